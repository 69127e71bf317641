// Parsing a document text while it is still being decoded from its message, so that the parse
// of the finished text starts where this one got to: decoding a large message and parsing its
// text then overlap instead of following each other.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "syntax/parse.h"

namespace quib {

// One text at a time: a writer thread calls `begin`, `advance`... and `end` for a text it
// writes into a storage it owns, and the parse runs meanwhile as a background job of the helper
// thread (it gives way to any split parse or analysis that wants the helper). Any thread may
// then `take` the prefix for the finished text.
// Invariant: the parse reads only bytes of the storage that `advance` has reported final, and
// only between `begin` and the return of `end`.
class ParseAhead {
 public:
  // Storages smaller than this are not parsed ahead: their parse is short anyway.
  static constexpr size_t kMinStorageBytes = 256 * 1024;

  ParseAhead() = default;
  ParseAhead(const ParseAhead&) = delete;
  ParseAhead& operator=(const ParseAhead&) = delete;
  ~ParseAhead();

  // Forgets the prefix not taken, if any: the text it was parsed from is not coming.
  void forget();
  // A text begins to be written into `storage`, none of its bytes final yet. Starts parsing it
  // unless the storage is small or the helper is busy. Forgets the prefix not taken.
  void begin(const std::string& storage);
  // The first `bytes` bytes of the storage are final; never fewer than before.
  void advance(size_t bytes);
  // The text is written, its last `advance` giving its size, or abandoned. Returns once the
  // parse no longer reads the storage, which may then change or go.
  void end();
  // The text of the last `end` was copied into `text` (by its writer, before anyone takes its
  // prefix): the prefix now goes to that storage.
  void moved(const std::string& text);
  // The prefix parsed of `text` when `text` holds the text of the last `end` in that same
  // storage; otherwise null. A prefix is taken once.
  ParsedPrefixPtr take(const std::string& text);

 private:
  void parse();
  // `parse` of the ParseAhead at `self`: the helper's background job.
  static void run_parse(void* self);

  // Between `begin` and `end`: the storage, the count of its final bytes, whether the parse has
  // been asked to stop (by `end`, or by the helper for a caller that wants it), and whether it
  // runs.
  const std::string* storage_ = nullptr;
  std::atomic<size_t> final_bytes_{0};
  std::atomic<bool> stop_{false};
  bool parsing_ = false;

  std::mutex mutex_;
  // Under `mutex_`: the prefix, and the storage bytes and size of the text it was parsed from,
  // for `take`.
  ParsedPrefixPtr prefix_;
  const char* prefix_data_ = nullptr;
  size_t prefix_size_ = 0;
};

}  // namespace quib
