// File-backed hotkeys. Everything reachable from setSymbolicHotKeyEnabled formats into stack
// buffers and uses only open, write, close and rename: a signal may arrive at any point.
#include "hotkey_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

namespace tolvane::simtool {

namespace {

/// Appends the decimal digits of `value` to `out` at `pos`; returns the new position.
std::size_t appendNumber(char* out, std::size_t pos, std::int64_t value) {
  char digits[24];
  std::size_t n = 0;
  const bool negative = value < 0;
  auto rest = static_cast<std::uint64_t>(negative ? -value : value);
  do {
    digits[n++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (negative) out[pos++] = '-';
  while (n > 0) out[pos++] = digits[--n];
  return pos;
}

std::size_t appendText(char* out, std::size_t pos, const char* text) {
  while (*text) out[pos++] = *text++;
  return pos;
}

void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written <= 0) return;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

}  // namespace

FileHotKeyServer::FileHotKeyServer(sim::SimDesktop& desktop, Trace& trace, std::string path)
    : desktop_(desktop),
      trace_(trace),
      path_(std::move(path)),
      temporaryPath_(path_.empty() ? "" : path_ + ".new") {
  load();
}

void FileHotKeyServer::load() {
  if (path_.empty()) return;
  std::ifstream in(path_);
  std::int64_t hotKey = 0;
  int enabled = 1;
  while (in >> hotKey >> enabled) {
    if (hotKey <= 0 || hotKey > INT32_MAX) continue;
    if (Slot* slot = slotFor(static_cast<std::int32_t>(hotKey), true)) slot->enabled = enabled != 0;
  }
}

FileHotKeyServer::Slot* FileHotKeyServer::slotFor(std::int32_t hotKey, bool create) {
  for (auto& slot : slots_) {
    if (slot.hotKey.load() == hotKey) return &slot;
  }
  if (!create) return nullptr;
  for (auto& slot : slots_) {
    std::int32_t free = 0;
    if (slot.hotKey.compare_exchange_strong(free, hotKey)) return &slot;
  }
  return nullptr;
}

bool FileHotKeyServer::isEnabled(std::int32_t hotKey) const {
  for (const auto& slot : slots_) {
    if (slot.hotKey.load() == hotKey) return slot.enabled.load();
  }
  return true;
}

int FileHotKeyServer::setSymbolicHotKeyEnabled(std::int32_t hotKey, bool enabled) {
  if (!desktop_.available.hotKeySetter) return sim::SimDesktop::kHotKeyFailure;
  Slot* slot = slotFor(hotKey, true);
  if (!slot) return sim::SimDesktop::kHotKeyFailure;
  const bool changed = slot->enabled.exchange(enabled) != enabled;
  save();
  if (changed) trace(hotKey, enabled);
  return 0;
}

std::optional<bool> FileHotKeyServer::isSymbolicHotKeyEnabled(std::int32_t hotKey) {
  if (!desktop_.available.hotKeyQuery) return std::nullopt;
  return isEnabled(hotKey);
}

void FileHotKeyServer::save() const {
  if (path_.empty()) return;
  char buffer[kSlots * 16];
  std::size_t pos = 0;
  for (const auto& slot : slots_) {
    const std::int32_t hotKey = slot.hotKey.load();
    if (hotKey == 0) continue;
    pos = appendNumber(buffer, pos, hotKey);
    pos = appendText(buffer, pos, slot.enabled.load() ? " 1\n" : " 0\n");
  }
  // A kill between the write and the rename leaves the previous state whole.
  const int fd = ::open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  writeAll(fd, buffer, pos);
  ::close(fd);
  ::rename(temporaryPath_.c_str(), path_.c_str());
}

void FileHotKeyServer::trace(std::int32_t hotKey, bool enabled) const {
  char line[96];
  std::size_t pos = Trace::formatTime(trace_.clock().nanos(), line);
  pos = appendText(line, pos, " hotkey ");
  pos = appendNumber(line, pos, hotKey);
  pos = appendText(line, pos, enabled ? " enabled\n" : " disabled\n");
  trace_.raw(line, pos);
}

}  // namespace tolvane::simtool
