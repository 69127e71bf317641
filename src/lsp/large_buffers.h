// Storage of large strings (message bodies, document texts, long answers) kept for reuse. A
// string of megabytes gets a mapping of its own from the allocator, and every page of a fresh
// one is faulted in and zeroed on first touch (a thousand faults for a 4 MB document); a kept
// one is already in memory. One buffer is kept at most, so the process never holds more than
// one idle large buffer: the body of the next large message, a document text released by the
// store, or a sent answer all pass through the same place.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace quib::lsp {

class LargeBuffers {
 public:
  // Smaller strings are reused well enough by the heap.
  static constexpr std::size_t kMinBytes = std::size_t{64} << 10;
  // A larger buffer (an unusually large message) is not worth holding while idle.
  static constexpr std::size_t kMaxBytes = std::size_t{16} << 20;

  // The kept buffer, emptied, with its storage; an empty string without storage when none is
  // kept.
  std::string take();
  // Keeps `buffer`'s storage when its capacity lies within [kMinBytes, kMaxBytes] and exceeds
  // the kept one's; otherwise frees it (outside the lock).
  void give(std::string buffer);
  // Capacity of the kept buffer, 0 when none.
  std::size_t kept_capacity() const;

 private:
  mutable std::mutex mutex_;
  std::string kept_;
};

// The process's one set of kept buffers.
LargeBuffers& large_buffers();

// A shared, immutable document text whose storage goes to `large_buffers()` when its last
// holder lets go.
std::shared_ptr<const std::string> shared_text(std::string text);

}  // namespace quib::lsp
