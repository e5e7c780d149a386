// Trace lines to a descriptor or to memory.
#include "trace.h"

#include <unistd.h>

namespace tolvane::simtool {

std::size_t Trace::formatTime(std::int64_t nanos, char* out) {
  const std::int64_t millis = (nanos + 500000) / 1000000;
  char digits[24];
  std::size_t n = 0;
  auto seconds = static_cast<std::uint64_t>(millis / 1000);
  do {
    digits[n++] = static_cast<char>('0' + seconds % 10);
    seconds /= 10;
  } while (seconds != 0);
  std::size_t pos = 0;
  while (n > 0) out[pos++] = digits[--n];
  const std::int64_t fraction = millis % 1000;
  out[pos++] = '.';
  out[pos++] = static_cast<char>('0' + fraction / 100);
  out[pos++] = static_cast<char>('0' + fraction / 10 % 10);
  out[pos++] = static_cast<char>('0' + fraction % 10);
  return pos;
}

void Trace::line(std::string_view kind, std::string_view text) {
  char time[24];
  std::string out(time, formatTime(clock_.nanos(), time));
  out += ' ';
  out += kind;
  if (!text.empty()) {
    out += ' ';
    out += text;
  }
  // A line never spans two lines of the trace.
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  out += '\n';
  raw(out.data(), out.size());
}

void Trace::raw(const char* data, std::size_t size) {
  if (fd_ < 0) {
    std::lock_guard guard(lock_);
    std::string text(data, size);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    lines_.push_back(std::move(text));
    return;
  }
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written <= 0) return;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

std::vector<std::string> Trace::lines() const {
  std::lock_guard guard(lock_);
  return lines_;
}

}  // namespace tolvane::simtool
