#include "lsp/large_buffers.h"

#include <utility>

namespace quib::lsp {

std::string LargeBuffers::take() {
  std::lock_guard lock(mutex_);
  std::string buffer = std::exchange(kept_, std::string());
  buffer.clear();
  return buffer;
}

void LargeBuffers::give(std::string buffer) {
  const std::size_t capacity = buffer.capacity();
  if (capacity < kMinBytes || capacity > kMaxBytes) return;
  {
    std::lock_guard lock(mutex_);
    if (capacity > kept_.capacity()) kept_.swap(buffer);
  }
  // `buffer` now holds the smaller of the two, freed here, outside the lock.
}

std::size_t LargeBuffers::kept_capacity() const {
  std::lock_guard lock(mutex_);
  // An empty string has the capacity of its inline storage; any kept buffer is far larger.
  return kept_.capacity() < kMinBytes ? 0 : kept_.capacity();
}

LargeBuffers& large_buffers() {
  static LargeBuffers buffers;
  return buffers;
}

std::shared_ptr<const std::string> shared_text(std::string text) {
  // The text is created non-const, so its storage may be moved out once nobody reads it.
  return std::shared_ptr<const std::string>(new std::string(std::move(text)),
                                            [](const std::string* released) {
                                              auto* owned = const_cast<std::string*>(released);
                                              large_buffers().give(std::move(*owned));
                                              delete owned;
                                            });
}

}  // namespace quib::lsp
