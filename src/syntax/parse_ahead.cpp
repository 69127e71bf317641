#include "syntax/parse_ahead.h"

#include <thread>
#include <utility>

#include "syntax/assert.h"
#include "syntax/parallel.h"

namespace quib {

namespace {

// A prefix's windows are small, so that the parse gives way within a few tens of microseconds
// when asked to stop.
constexpr uint32_t kAheadWindowBytes = 8 * 1024;

}  // namespace

ParseAhead::~ParseAhead() {
  QUIB_ASSERT(!parsing_, "a text parsed ahead is ended before its parser goes");
}

void ParseAhead::forget() {
  std::lock_guard lock(mutex_);
  prefix_.reset();
  prefix_data_ = nullptr;
  prefix_size_ = 0;
}

void ParseAhead::begin(const std::string& storage) {
  QUIB_ASSERT(!parsing_, "one text at a time is parsed ahead");
  forget();
  if (storage.size() < kMinStorageBytes) return;
  storage_ = &storage;
  final_bytes_.store(0, std::memory_order_relaxed);
  stop_.store(false, std::memory_order_relaxed);
  parsing_ = detail::start_background_on_helper({this, &ParseAhead::run_parse}, stop_);
  if (!parsing_) storage_ = nullptr;
}

void ParseAhead::advance(size_t bytes) {
  final_bytes_.store(bytes, std::memory_order_release);
}

void ParseAhead::end() {
  if (!parsing_) return;
  stop_.store(true, std::memory_order_relaxed);
  // Until the helper is done with the job, not only until the parse returns: the helper may
  // still ask the job to give way through `stop_`, and would refuse the next text's parse.
  detail::wait_for_background_job({this, &ParseAhead::run_parse});
  parsing_ = false;
  std::lock_guard lock(mutex_);
  if (prefix_) {
    prefix_data_ = storage_->data();
    prefix_size_ = final_bytes_.load(std::memory_order_relaxed);
  }
  storage_ = nullptr;
}

void ParseAhead::moved(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (prefix_ && text.size() == prefix_size_) prefix_data_ = text.data();
}

ParsedPrefixPtr ParseAhead::take(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!prefix_ || text.data() != prefix_data_ || text.size() != prefix_size_) return nullptr;
  prefix_data_ = nullptr;
  prefix_size_ = 0;
  return std::move(prefix_);
}

// Runs on the helper. The decoder writes much faster than a parse reads, so a window rarely
// waits for its bytes. Before each window, and while it waits, the parse looks at `stop_`, which
// `end` or a caller that wants the helper sets.
void ParseAhead::parse() {
  const auto final_bytes = [&](size_t wanted) {
    for (uint32_t round = 0;; ++round) {
      if (stop_.load(std::memory_order_relaxed)) return size_t{0};
      const size_t final = final_bytes_.load(std::memory_order_acquire);
      if (final >= wanted) return final;
      if (round % 64 == 63) {
        std::this_thread::yield();
      } else {
        detail::pause_briefly();
      }
    }
  };
  ParsedPrefixPtr prefix;
  try {
    prefix = parse_prefix(*storage_, final_bytes, kAheadWindowBytes);
  } catch (...) {
    // Only running out of memory gets here; the text is then parsed from its start, or fails
    // there with a caller to hear of it.
  }
  // `end` reads it once the helper is done with this job.
  std::lock_guard lock(mutex_);
  prefix_ = std::move(prefix);
}

void ParseAhead::run_parse(void* self) {
  static_cast<ParseAhead*>(self)->parse();
}

}  // namespace quib
