// One ARGB8888 buffer in shared memory (memfd), as a wl_buffer the compositor can read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "backends/system/unique_fd.h"

struct wl_buffer;
struct wl_shm;

namespace tolvane::wayland {

/// Owns the mapping and the wl_buffer; both go with it. Main thread only.
class ShmBuffer {
 public:
  /// The largest side accepted, in pixels: a compositor's configure is checked against it.
  static constexpr int kMaxSide = 16384;

  /// A zeroed (fully transparent) buffer of `width`×`height` pixels; absent when the sizes are out
  /// of bounds or memory could not be had. `released` runs when the compositor lets go of it.
  static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height,
                                           std::function<void()> released);
  ~ShmBuffer();
  /// A new wl_buffer over the same memory, for another surface: the old one is destroyed unread,
  /// whether or not the compositor has released it yet. The pixels stay, and so do their pages:
  /// the next frame faults none in. False, with no buffer left, when it could not be made.
  bool renew(wl_shm* shm, std::function<void()> released);
  ShmBuffer(const ShmBuffer&) = delete;
  ShmBuffer& operator=(const ShmBuffer&) = delete;

  wl_buffer* buffer() const { return buffer_; }
  std::uint32_t* pixels() const { return static_cast<std::uint32_t*>(memory_); }
  int width() const { return width_; }
  int height() const { return height_; }
  /// Bytes per row.
  int stride() const { return width_ * 4; }

 private:
  ShmBuffer() = default;

  void makeBuffer(wl_shm* shm);

  system::UniqueFd fd_;
  wl_buffer* buffer_ = nullptr;
  void* memory_ = nullptr;
  std::size_t bytes_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::function<void()> released_;
};

}  // namespace tolvane::wayland
