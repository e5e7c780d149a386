// Shared-memory buffers: a memfd sized and mapped once, handed to the compositor through a pool
// that lives only as long as it takes to make the buffer.
#include "backends/wayland/shm_buffer.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

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
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (memory == MAP_FAILED) return nullptr;
  std::unique_ptr<ShmBuffer> self(new ShmBuffer());
  self->memory_ = memory;
  self->bytes_ = bytes;
  self->width_ = width;
  self->height_ = height;
  self->released_ = std::move(released);
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd.get(), static_cast<std::int32_t>(bytes));
  self->buffer_ =
      wl_shm_pool_create_buffer(pool, 0, width, height, self->stride(), WL_SHM_FORMAT_ARGB8888);
  wl_shm_pool_destroy(pool);
  wl_buffer_add_listener(self->buffer_, &kBufferListener, &self->released_);
  return self;
}

ShmBuffer::~ShmBuffer() {
  if (buffer_ != nullptr) wl_buffer_destroy(buffer_);
  if (memory_ != nullptr) munmap(memory_, bytes_);
}

}  // namespace tolvane::wayland
