// The usage-event queue file, its flush rules and the upload.
#include "reporting/improve_reporter.h"

#include <condition_variable>
#include <mutex>

#include <nlohmann/json.hpp>

#include "base/serial_queue.h"
#include "reporting/event_queue_file.h"
#include "reporting/install_id.h"
#include "settings/preference_keys.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

namespace {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

std::string dumped(const Json& json) {
  // A stray invalid byte in one property must not throw away the event or the batch.
  return wire::dumpBody(json);
}

Json propertyValue(const EventValue& value) {
  return std::visit(
      [](const auto& v) -> Json {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>) {
          return firstCharacters(v, ImproveReporter::kMaxStringCharacters);
        } else {
          return v;
        }
      },
      value);
}

struct Completion {
  std::mutex lock;
  std::condition_variable cv;
  bool done = false;
  void signal() {
    {
      std::lock_guard guard(lock);
      done = true;
    }
    cv.notify_all();
  }
};

}  // namespace

std::string firstCharacters(const std::string& text, std::size_t characters) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (startsCharacter && seen++ == characters) return text.substr(0, i);
  }
  return text;
}

bool ImproveConfig::enabled() const {
  return preferences_.boolValue(prefkey::kImproveDataSharing).value_or(true);
}

std::string ImproveConfig::installID() const {
  return tolvane::installID(preferences_, random_);
}

struct ImproveReporter::State {
  explicit State(Dependencies d)
      : deps(std::move(d)), config(deps.preferences, deps.random, deps.cloud) {}

  /// A batch in the air and the file it was cut from.
  struct SentBatch {
    /// `clears` when the batch left.
    std::uint64_t clears = 0;
    /// What the file held when the batch left. Appends only ever add lines after these.
    Lines fileStart;
    Lines batchLines;
    Lines kept;
  };

  // Everything below runs on `queue` only, except `tokenProvider` (under `tokenLock`).
  std::optional<std::string> readQueue();
  void append(const std::string& line);
  bool rewrite(const Lines& lines);
  void flush(std::weak_ptr<State> self, std::function<void()> completion);
  void dropUnusableLines(SentBatch& batch);
  void finishBatch(const SentBatch& sent, bool taken);
  std::string uploadBody(const Json& events) const;
  std::optional<std::string> token();
  double cutoff() const { return deps.clock.wallSeconds() - kMaxEventAgeSeconds; }

  Dependencies deps;
  ImproveConfig config;
  std::mutex tokenLock;
  std::function<std::optional<std::string>()> tokenProvider;
  bool inFlight = false;
  /// How many times the queue was cleared. A batch that left before a clear must not touch the
  /// file when its reply comes.
  std::uint64_t clears = 0;
  // Whether the file is known to end with a line feed. A crash mid-append can leave a partial
  // last line; the next event must not be glued onto it.
  bool endsWithNewline = false;
  // Why the queue file was last refused; nothing once it reads again.
  std::optional<ReadFailure> lastRefusal;
  // Declared last: destroyed first, so queued work never outlives the members it touches.
  SerialQueue queue;
};

std::optional<std::string> ImproveReporter::State::readQueue() {
  auto read = deps.files.readRegularFile(deps.queueFile, kMaxQueueFileBytes);
  if (read.content || read.failure == ReadFailure::missing) {
    lastRefusal.reset();
    return std::move(read.content);
  }
  // Too large to be ours: it would only grow and could never be sent. Anything but a regular
  // file is left as it is (appends refuse it too), and said once, not at every flush.
  const bool removed = read.failure == ReadFailure::tooLarge && deps.files.remove(deps.queueFile);
  if ((removed || lastRefusal != read.failure) && deps.log) {
    deps.log(refusedReadMessage("usage queue", deps.queueFile, read.failure, kMaxQueueFileBytes) +
             (removed ? ", deleted" : ""));
  }
  lastRefusal = removed ? std::nullopt : std::optional(read.failure);
  return std::nullopt;
}

void ImproveReporter::State::append(const std::string& line) {
  auto& files = deps.files;
  bool partialLastLine = false;
  if (!endsWithNewline) {
    const auto existing = readQueue();
    partialLastLine = existing && !existing->empty() && existing->back() != '\n';
  }
  const std::string bytes = partialLastLine ? "\n" + line : line;
  files.createDirectories(parentFolder(deps.queueFile));
  auto file = files.openForAppend(deps.queueFile);
  // A failed append drops the event (nothing is shown to the user), but the file may now end
  // in a partial line, so the next append checks again.
  endsWithNewline = file && file->append(bytes);
}

bool ImproveReporter::State::rewrite(const Lines& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  deps.files.createDirectories(parentFolder(deps.queueFile));
  endsWithNewline = writeFileAtomically(deps.files, deps.queueFile, text);
  return endsWithNewline;
}

std::optional<std::string> ImproveReporter::State::token() {
  std::lock_guard guard(tokenLock);
  return tokenProvider ? tokenProvider() : std::nullopt;
}

std::string ImproveReporter::State::uploadBody(const Json& events) const {
  const auto& bundle = deps.bundle;
  return wire::encodeUsageBatch({.installID = config.installID(),
                                 .appVersion = bundle.shortVersion.value_or("?"),
                                 .build = bundle.build.value_or("?"),
                                 .osVersion = deps.system.osVersion(),
                                 .arch = deps.system.architecture(),
                                 .locale = deps.system.localeIdentifier()},
                                events);
}

void ImproveReporter::State::flush(std::weak_ptr<State> self, std::function<void()> completion) {
  // Every way out calls `completion`: a waiting quit must not sit out its whole bound because
  // there was nothing to send.
  if (!config.enabled() || inFlight) return completion();
  const auto text = readQueue();
  const Lines lines = text ? queueLines(*text) : Lines{};
  if (lines.empty()) return completion();

  auto selection = selectBatch(lines, cutoff(), kBatchSize);
  SentBatch sent{.clears = clears,
                 .fileStart = lines,
                 .batchLines = std::move(selection.batchLines),
                 .kept = std::move(selection.kept)};
  dropUnusableLines(sent);
  if (selection.batch.empty()) return completion();

  auto request =
      deps.cloud.request(CloudEndpoint::improve, "POST", token(), uploadBody(selection.batch));
  if (!request) return completion();
  inFlight = true;
  // Shared, not copied, into each hop: the kept lines may be a week of events.
  auto shared = std::make_shared<const SentBatch>(std::move(sent));
  deps.http.send(std::move(*request), [self, shared, completion](HttpResponse reply) {
    auto state = self.lock();
    if (!state) return completion();
    state->queue.async([self, reply = std::move(reply), shared, completion] {
      auto state = self.lock();
      if (!state) return completion();
      state->inFlight = false;
      // 2xx to 4xx: taken, or never to be taken (a malformed batch must not be retried
      // forever). 5xx or no reply: the batch stays for the next flush.
      state->finishBatch(*shared, reply.status && *reply.status >= 200 && *reply.status <= 499);
      completion();
    });
  });
}

void ImproveReporter::State::dropUnusableLines(SentBatch& batch) {
  // Expired and unreadable lines leave the file at every attempt, before anything is sent: with
  // the network down no reply ever comes to rewrite the file, and it would only grow.
  Lines usable = batch.batchLines;
  usable.insert(usable.end(), batch.kept.begin(), batch.kept.end());
  if (usable.size() != batch.fileStart.size() && rewrite(usable)) batch.fileStart = usable;
}

void ImproveReporter::State::finishBatch(const SentBatch& sent, bool taken) {
  // A clear deleted every line the batch was cut from, the kept ones too; whatever the file
  // holds now was recorded after it. The lines themselves cannot tell: two events of the same
  // second with the same properties are the same bytes.
  if (clears != sent.clears) return;
  const auto text = readQueue();
  const Lines current = text ? queueLines(*text) : Lines{};
  // Events recorded while the batch was in the air follow the lines it was cut from, and stay.
  // A file that no longer starts with those lines was changed by someone else: left alone.
  if (current.size() < sent.fileStart.size() ||
      !std::equal(sent.fileStart.begin(), sent.fileStart.end(), current.begin())) {
    return;
  }
  // A batch that stays loses what expired while it was in the air.
  Lines next = taken ? Lines{} : usableLines(sent.batchLines, cutoff());
  next.insert(next.end(), sent.kept.begin(), sent.kept.end());
  next.insert(next.end(), current.begin() + static_cast<std::ptrdiff_t>(sent.fileStart.size()),
              current.end());
  // `next` is `current` less some lines: the same size means nothing to write.
  if (next.size() != current.size()) rewrite(next);
}

ImproveReporter::ImproveReporter(Dependencies deps)
    : state_(std::make_shared<State>(std::move(deps))) {}

ImproveReporter::~ImproveReporter() {
  state_->deps.runLoop.cancel(firstFlush_);
  state_->deps.runLoop.cancel(flushTimer_);
  // Joined here, on the owner's thread, so the state is never destroyed by its own queue.
  state_->queue.stop();
}

void ImproveReporter::setTokenProvider(std::function<std::optional<std::string>()> provider) {
  std::lock_guard guard(state_->tokenLock);
  state_->tokenProvider = std::move(provider);
}

void ImproveReporter::start() {
  auto& loop = state_->deps.runLoop;
  firstFlush_ = loop.postAfter(kFirstFlushSeconds, [this, &loop] {
    flushNow(false);
    flushTimer_ = loop.repeatEvery(kFlushIntervalSeconds, [this] { flushNow(false); });
  });
  if (!state_->config.enabled()) clearQueue();
}

void ImproveReporter::applicationWillTerminate() {
  flushNow(true);
}

void ImproveReporter::record(const std::string& name, const EventProperties& properties) {
  if (!state_->config.enabled()) return;
  Json props = Json::object();
  for (const auto& [key, value] : properties) props[key] = propertyValue(value);
  const Json event = {{"t", state_->deps.clock.wallSeconds()}, {"n", name}, {"p", props}};
  if (observer_) observer_(name, dumped(props));
  std::weak_ptr<State> self = state_;
  state_->queue.async([self, line = dumped(event) + "\n"] {
    if (auto state = self.lock()) state->append(line);
  });
}

void ImproveReporter::setObserver(
    std::function<void(const std::string&, const std::string&)> observer) {
  observer_ = std::move(observer);
}

bool ImproveReporter::flushNow(bool sync) {
  // Taken before the flush is queued: its request may be sent, and the clock moved on, before
  // this thread gets to wait.
  const double deadline = state_->deps.clock.now() + kSyncFlushWaitSeconds;
  auto completion = std::make_shared<Completion>();
  std::weak_ptr<State> self = state_;
  state_->queue.async([self, completion] {
    if (auto state = self.lock()) {
      state->flush(self, [completion] { completion->signal(); });
    } else {
      completion->signal();
    }
  });
  if (!sync) return true;
  std::unique_lock guard(completion->lock);
  return state_->deps.clock.waitUntil(guard, completion->cv, deadline,
                                      [&] { return completion->done; });
}

void ImproveReporter::clearQueue() {
  std::weak_ptr<State> self = state_;
  state_->queue.async([self] {
    if (auto state = self.lock()) {
      state->deps.files.remove(state->deps.queueFile);
      ++state->clears;
      state->endsWithNewline = true;  // no file: the next append starts a fresh one
    }
  });
}

void ImproveReporter::drain() {
  state_->queue.drain();
}

}  // namespace tolvane
