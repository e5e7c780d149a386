// Shared-memory buffers: a memfd sized and mapped once, handed to the compositor through a pool
// that lives only as long as it takes to make the buffer.
#include "backends/wayland/shm_buffer.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <utility>

#include "backends/system/unique_fd.h"

namespace tolvane::wayland {

namespace {

const wl_buffer_listener kBufferListener = {
    .release =
        [](void* data, wl_buffer* buffer) {
          static_cast<void>(buffer);
          auto* self = static_cast<std::function<void()>*>(data);
          if (*self) (*self)();
        },
};

}  // namespace

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, int width, int height,
                                             std::function<void()> released) {
  if (shm == nullptr || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
    return nullptr;
  }
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  system::UniqueFd fd(memfd_create("tolvane-overlay", MFD_CLOEXEC));
  if (!fd.valid() || ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0) return nullptr;
  // Populated at once: a panel's worth of pages faulted in one by one, as the first paint would,
  // took several milliseconds more.
  void* memory =
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
  if (memory == MAP_FAILED) return nullptr;
  std::unique_ptr<ShmBuffer> self(new ShmBuffer());
  self->fd_ = std::move(fd);
  self->memory_ = memory;
  self->bytes_ = bytes;
  self->width_ = width;
  self->height_ = height;
  self->released_ = std::move(released);
  self->makeBuffer(shm);
  return self;
}

void ShmBuffer::makeBuffer(wl_shm* shm) {
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd_.get(), static_cast<std::int32_t>(bytes_));
  buffer_ = wl_shm_pool_create_buffer(pool, 0, width_, height_, stride(), WL_SHM_FORMAT_ARGB8888);
  wl_shm_pool_destroy(pool);
  wl_buffer_add_listener(buffer_, &kBufferListener, &released_);
}

bool ShmBuffer::renew(wl_shm* shm, std::function<void()> released) {
  if (buffer_ != nullptr) wl_buffer_destroy(std::exchange(buffer_, nullptr));
  released_ = std::move(released);
  if (shm == nullptr || !fd_.valid()) return false;
  makeBuffer(shm);
  return true;
}

ShmBuffer::~ShmBuffer() {
  if (buffer_ != nullptr) wl_buffer_destroy(buffer_);
  if (memory_ != nullptr) munmap(memory_, bytes_);
}

}  // namespace tolvane::wayland
