// Conversion between byte offsets into UTF-8 text and protocol positions (zero-based line,
// UTF-16 column). This is the only place that knows UTF-16. Protocol lines end at LF only:
// a CR, alone or before LF, is an ordinary character that counts one column.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "syntax/text_range.h"

namespace quib::lsp {

// WARNING: `character` counts UTF-16 code units, not bytes or code points.
struct Position {
  uint32_t line = 0;
  uint32_t character = 0;
  bool operator==(const Position&) const = default;
};

struct Range {
  Position start;
  Position end;
  bool operator==(const Range&) const = default;
};

// Line starts of one text, plus which lines are pure ASCII (where a column is a byte count)
// and, on long lines that are not, the column at every few hundred bytes, so each conversion
// costs O(log lines) plus a scan of at most those few hundred bytes, however long the line.
// Invariant: results equal the one-shot functions below for every input.
// The index borrows `text`; the text must outlive it. Offsets are 32-bit, so only the first
// 4 GiB - 1 bytes of a larger text are seen.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text);

  // Offsets past the end clamp to the end. An offset inside a character (which callers never
  // pass) is read as the start of that character.
  Position position_of(uint32_t offset) const;
  // The same, for offsets visited in increasing order: `line_hint` holds the line of the
  // previous offset and moves forward, so a sorted walk costs O(lines + offsets) in all.
  Position position_at_or_after(uint32_t offset, uint32_t& line_hint) const;
  Range range_of(TextRange range) const;
  // Never fails: a line past the last gives the text length; a column past the line end
  // gives the offset of the line's LF (after the CR of a CRLF line), or the text length on the
  // last line; a column inside a surrogate pair rounds down to the start of that character.
  uint32_t offset_of(Position position) const;

  std::string_view text() const { return text_; }

 private:
  // Columns are counted a byte at a time (a character at its first byte), so the column at any
  // byte of a line is the column at an earlier byte plus the count in between: a walk may start
  // at any checkpoint, even one inside a character.
  static constexpr uint32_t kCheckpointBytes = 256;

  // A line that is not ASCII and is longer than kCheckpointBytes.
  struct LongLine {
    uint32_t line;
    uint32_t first_checkpoint;  // index into checkpoint_columns_
  };

  // Where a walk over a line that is not ASCII may start, and the column it starts with.
  struct WalkStart {
    uint32_t offset;
    uint32_t column;
  };

  uint32_t line_count() const { return static_cast<uint32_t>(line_starts_.size()); }
  // The position of `clamped` (an offset not past the text), which lies on `line`.
  Position position_on_line(uint32_t clamped, uint32_t line) const;
  // Offset of the LF that ends `line`, or the text length for the last line.
  uint32_t line_end(uint32_t line) const;
  // Records the checkpoints of the non-ASCII line `line`, [start, end), if it is long.
  void add_checkpoints(uint32_t line, uint32_t start, uint32_t end);
  // The entry of `line` in long_lines_, or null.
  const LongLine* long_line(uint32_t line) const;
  // On the non-ASCII `line`: the last checkpoint at or before byte `offset`, or the last whose
  // column is not above `character`; the line's start and column 0 when there is none.
  WalkStart walk_start_at_offset(uint32_t line, uint32_t offset) const;
  WalkStart walk_start_at_column(uint32_t line, uint32_t character) const;

  std::string_view text_;
  // Invariant: line_starts_[0] == 0, strictly increasing; each later entry follows an LF.
  std::vector<uint32_t> line_starts_;
  // Invariant: same size as line_starts_; true when the line (without its LF) is all ASCII.
  std::vector<bool> ascii_lines_;
  // Invariant: one entry per long line, in line order.
  std::vector<LongLine> long_lines_;
  // From each long line's first_checkpoint on: the column at byte line start + j *
  // kCheckpointBytes, for j = 1, 2, ... while that byte is not past the line's end.
  std::vector<uint32_t> checkpoint_columns_;
};

// One-shot forms of the LineIndex conversions (each builds no index; fine for one offset).
Position offset_to_position(std::string_view text, uint32_t offset);
Range text_range_to_lsp_range(std::string_view text, TextRange range);
uint32_t position_to_offset(std::string_view text, uint32_t line, uint32_t character);

// Offset of the first byte of the last character in [start, end) that is not ASCII white
// space; `start` (or the clamped end, if smaller) when the range holds only white space.
uint32_t last_non_whitespace_offset(std::string_view text, uint32_t start, uint32_t end);

}  // namespace quib::lsp
