// Deadlines use the monotonic clock so that a change of the wall clock cannot stretch them.
#include "backends/system/real_clock.h"

#include <chrono>

namespace tolvane::system {

double RealClock::now() const {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::uint64_t RealClock::uptimeNanoseconds() const {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

double RealClock::wallSeconds() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

bool RealClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                          double deadline, const std::function<bool()>& ready) const {
  // steady_clock, like now(): a wall-clock jump must not stretch or cut the wait.
  using namespace std::chrono;
  const steady_clock::time_point until(
      duration_cast<steady_clock::duration>(duration<double>(deadline)));
  return cv.wait_until(lock, until, ready);
}

}  // namespace tolvane::system
