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

// Line starts of one text, plus which lines are pure ASCII (where a column is a byte count),
// so each conversion costs O(log lines + line length) instead of a scan from the start.
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
  uint32_t line_count() const { return static_cast<uint32_t>(line_starts_.size()); }
  // The position of `clamped` (an offset not past the text), which lies on `line`.
  Position position_on_line(uint32_t clamped, uint32_t line) const;
  // Offset of the LF that ends `line`, or the text length for the last line.
  uint32_t line_end(uint32_t line) const;

  std::string_view text_;
  // Invariant: line_starts_[0] == 0, strictly increasing; each later entry follows an LF.
  std::vector<uint32_t> line_starts_;
  // Invariant: same size as line_starts_; true when the line (without its LF) is all ASCII.
  std::vector<bool> ascii_lines_;
};

// One-shot forms of the LineIndex conversions (each builds no index; fine for one offset).
Position offset_to_position(std::string_view text, uint32_t offset);
Range text_range_to_lsp_range(std::string_view text, TextRange range);
uint32_t position_to_offset(std::string_view text, uint32_t line, uint32_t character);

// Offset of the first byte of the last character in [start, end) that is not ASCII white
// space; `start` (or the clamped end, if smaller) when the range holds only white space.
uint32_t last_non_whitespace_offset(std::string_view text, uint32_t start, uint32_t end);

}  // namespace quib::lsp
