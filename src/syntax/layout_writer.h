// The state of one whole-document formatting run: the text written so far, the metadata lines
// waiting for their run to end, and the blank-line and group-indentation rules between items.
// It lays out nothing itself; items arrive already laid out (syntax/format_item.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/format_item.h"

namespace quib {

// Metadata sort keys: the known fields in this order, every other key last.
inline constexpr uint8_t kHelpSortKey = 0;
inline constexpr uint8_t kDescSortKey = 1;
inline constexpr uint8_t kPassSortKey = 2;
inline constexpr uint8_t kFailSortKey = 3;
inline constexpr uint8_t kOtherFieldSortKey = 4;

class LayoutWriter {
 public:
  // `storage` is emptied and written into, so its capacity serves the output.
  explicit LayoutWriter(std::string storage = {}) : out_(std::move(storage)) { out_.clear(); }
  // A byte order mark: written unchanged, and still "nothing written" for the blank-line and
  // final-newline rules, so a file that starts with one does not grow on every run.
  void write_mark(std::string_view mark);
  // A top-level line break: ends a metadata run and counts toward the blank lines in front of
  // the next item.
  void line_break();
  // Room for `bytes` of output, so a whole document is written without regrowing.
  void reserve(size_t bytes) { out_.reserve(bytes); }
  // Holds a copy of a laid-out metadata line until its run ends.
  void defer_metadata(uint8_t sort_key, std::string_view text);
  // Writes the waiting metadata lines sorted stably by key (equal keys keep their order).
  void flush_metadata();
  // Writes one item: a blank line before it when the table says so, then its text, indented
  // when inside a group, then a line feed.
  void emit_item(LayoutItemKind kind, std::string_view text);
  // Flushes the last metadata run and gives the text: empty (or only the mark) or ending in
  // exactly one line feed.
  std::string finish() &&;

 private:
  bool nothing_written() const { return out_.size() == mark_size_; }
  bool wants_blank_line(LayoutItemKind kind) const;

  std::string out_;
  size_t mark_size_ = 0;
  // A waiting metadata line: its key and its text's place in `pending_text_`.
  struct PendingMetadata {
    uint8_t sort_key;
    size_t start;
    size_t size;
  };
  std::vector<PendingMetadata> pending_;
  // The texts of the waiting metadata lines, back to back; one buffer reused across runs.
  std::string pending_text_;
  // Top-level line breaks seen since the last written item.
  uint32_t blank_lines_ = 0;
  // Invariant: true exactly between a GroupOpen item and the next group line.
  bool in_group_ = false;
  LayoutItemKind previous_ = LayoutItemKind::None;
};

}  // namespace quib
