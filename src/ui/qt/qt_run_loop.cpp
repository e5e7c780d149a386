// Work items and timers of the main thread as queued Qt calls and QTimers.
#include "ui/qt/qt_run_loop.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <climits>
#include <cmath>
#include <utility>

namespace tolvane::qt {

namespace {

/// Qt timers count whole milliseconds. Rounding up keeps a delay from ending before its time
/// on the loop's clock; NaN and negative delays count as `floorMillis`.
int toMillis(double seconds, int floorMillis) {
  const double millis = std::ceil(seconds * 1000);
  if (!(millis >= floorMillis)) return floorMillis;
  return millis >= INT_MAX ? INT_MAX : static_cast<int>(millis);
}

}  // namespace

QtRunLoop::QtRunLoop() : context_(std::make_unique<QObject>()) {}

QtRunLoop::~QtRunLoop() = default;

TimerId QtRunLoop::post(Callback fn) {
  const TimerId id = nextId_++;
  items_.emplace(id, Item{std::make_shared<Callback>(std::move(fn))});
  // Queued calls to one receiver are delivered in the order they were made.
  QMetaObject::invokeMethod(
      context_.get(), [this, id] { run(id); }, Qt::QueuedConnection);
  return id;
}

TimerId QtRunLoop::postAfter(double delaySeconds, Callback fn) {
  return startTimer(delaySeconds, false, std::move(fn));
}

TimerId QtRunLoop::repeatEvery(double intervalSeconds, Callback fn) {
  return startTimer(intervalSeconds, true, std::move(fn));
}

TimerId QtRunLoop::startTimer(double seconds, bool repeats, Callback fn) {
  const TimerId id = nextId_++;
  auto* timer = new QTimer(context_.get());
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(!repeats);
  // A repeating timer of zero interval would fire on every pass of the event loop and starve
  // it; one millisecond keeps the loop turning.
  timer->setInterval(toMillis(seconds, repeats ? 1 : 0));
  QObject::connect(timer, &QTimer::timeout, context_.get(), [this, id] { run(id); });
  items_.emplace(id, Item{std::make_shared<Callback>(std::move(fn)), timer, repeats});
  timer->start();
  return id;
}

void QtRunLoop::run(TimerId id) {
  auto it = items_.find(id);
  if (it == items_.end()) return;  // cancelled after it was queued
  const std::shared_ptr<Callback> fn = it->second.fn;
  if (!it->second.repeats) {
    // Gone before it runs: a cancel from inside the callback finds nothing to do.
    if (it->second.timer) it->second.timer->deleteLater();
    items_.erase(it);
  }
  (*fn)();
}

void QtRunLoop::cancel(TimerId id) {
  auto it = items_.find(id);
  if (it == items_.end()) return;
  if (QTimer* timer = it->second.timer) {
    timer->stop();
    // Later, not now: the timer may be delivering the tick that cancels it.
    timer->deleteLater();
  }
  items_.erase(it);
}

void QtRunLoop::postFromAnyThread(Callback fn) {
  // Posting an event is thread-safe; the call runs on the thread context_ lives in. Nothing
  // here touches items_ or nextId_, which belong to the main thread.
  QMetaObject::invokeMethod(
      context_.get(), [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

}  // namespace tolvane::qt
