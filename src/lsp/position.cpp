// Offset <-> protocol position conversions. The one-shot functions scan the text directly;
// LineIndex answers the same questions from line starts. Both share the per-line walks below.
#include "lsp/position.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quib::lsp {

namespace {

constexpr bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// UTF-16 units of the character that starts with `byte`. Continuation bytes count 0, so a walk
// over bytes counts each character once, at its first byte, and never reads past the walk's end
// even when a multi-byte sequence is cut short.
constexpr uint32_t utf16_units(unsigned char byte) {
  if (byte < 0x80) {
    return 1;
  }
  if (is_continuation(byte)) {
    return 0;
  }
  return byte >= 0xF0 ? 2 : 1;  // four-byte sequences encode U+10000 and above
}

// Offsets are 32-bit; a text longer than that is seen only up to the largest offset.
// No byte of [first, last) has its high bit set.
bool is_ascii(const char* first, const char* last) {
  uint64_t high = 0;
  for (; last - first >= 8; first += 8) {
    uint64_t word;
    std::memcpy(&word, first, 8);
    high |= word;
  }
  for (; first != last; ++first) high |= static_cast<unsigned char>(*first);
  return (high & 0x8080808080808080ull) == 0;
}

uint32_t text_length(std::string_view text) {
  return static_cast<uint32_t>(std::min<size_t>(text.size(), std::numeric_limits<uint32_t>::max()));
}

// Moves an offset that points into a character back to the character's first byte, but not
// below `floor` (a line start). Boundaries come back unchanged.
uint32_t character_start(std::string_view text, uint32_t offset, uint32_t floor) {
  while (offset > floor && offset < text.size() &&
         is_continuation(static_cast<unsigned char>(text[offset]))) {
    --offset;
  }
  return offset;
}

// UTF-16 column of `offset` on the line that starts at `line_start`.
// Requires line_start <= offset <= text length and no LF in between.
uint32_t column_between(std::string_view text, uint32_t line_start, uint32_t offset) {
  uint32_t column = 0;
  for (uint32_t i = line_start; i < offset; ++i) {
    column += utf16_units(static_cast<unsigned char>(text[i]));
  }
  return column;
}

// Offset of UTF-16 column `character` on a line that ends at `line_end` (its LF or the text
// length), walking from byte `from` of the line, which is at column `column`, not above
// `character`. A column past the end gives line_end; a column that falls between the two
// halves of a surrogate pair gives the start of that character.
uint32_t offset_at_column(std::string_view text, uint32_t from, uint32_t line_end,
                          uint32_t character, uint32_t column) {
  for (uint32_t i = from; i < line_end; ++i) {
    const uint32_t units = utf16_units(static_cast<unsigned char>(text[i]));
    if (units == 0) {
      continue;
    }
    // Stops at the first character that reaches the column or straddles it.
    if (column + units > character) {
      return i;
    }
    column += units;
  }
  return line_end;
}

// The white space that folding ends skip: space, tab, LF, form feed and CR (not vertical tab).
constexpr bool is_layout_space(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r';
}

}  // namespace

LineIndex::LineIndex(std::string_view text) : text_(text.substr(0, text_length(text))) {
  // A line at a time: memchr finds its end and the ASCII test reads eight bytes per step, so
  // indexing costs a small part of reading the text once.
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  const char* line = begin;
  for (;;) {
    const auto* newline =
        line == end
            ? nullptr
            : static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
    const char* line_end = newline != nullptr ? newline : end;
    line_starts_.push_back(static_cast<uint32_t>(line - begin));
    ascii_lines_.push_back(is_ascii(line, line_end));
    if (!ascii_lines_.back()) {
      add_checkpoints(line_count() - 1, static_cast<uint32_t>(line - begin),
                      static_cast<uint32_t>(line_end - begin));
    }
    if (newline == nullptr) break;
    line = newline + 1;
  }
}

void LineIndex::add_checkpoints(uint32_t line, uint32_t start, uint32_t end) {
  if (end - start <= kCheckpointBytes) return;
  long_lines_.push_back({line, static_cast<uint32_t>(checkpoint_columns_.size())});
  uint32_t column = 0;
  for (uint32_t at = start; end - at >= kCheckpointBytes; at += kCheckpointBytes) {
    column += column_between(text_, at, at + kCheckpointBytes);
    checkpoint_columns_.push_back(column);
  }
}

const LineIndex::LongLine* LineIndex::long_line(uint32_t line) const {
  const auto found =
      std::lower_bound(long_lines_.begin(), long_lines_.end(), line,
                       [](const LongLine& entry, uint32_t wanted) { return entry.line < wanted; });
  return found != long_lines_.end() && found->line == line ? &*found : nullptr;
}

LineIndex::WalkStart LineIndex::walk_start_at_offset(uint32_t line, uint32_t offset) const {
  const uint32_t start = line_starts_[line];
  const LongLine* long_entry = long_line(line);
  const uint32_t passed = (offset - start) / kCheckpointBytes;
  if (long_entry == nullptr || passed == 0) return {start, 0};
  return {start + passed * kCheckpointBytes,
          checkpoint_columns_[long_entry->first_checkpoint + passed - 1]};
}

LineIndex::WalkStart LineIndex::walk_start_at_column(uint32_t line, uint32_t character) const {
  const uint32_t start = line_starts_[line];
  const LongLine* long_entry = long_line(line);
  if (long_entry == nullptr) return {start, 0};
  const auto first = checkpoint_columns_.begin() + long_entry->first_checkpoint;
  const auto last = first + (line_end(line) - start) / kCheckpointBytes;
  const auto passed = static_cast<uint32_t>(std::upper_bound(first, last, character) - first);
  if (passed == 0) return {start, 0};
  return {start + passed * kCheckpointBytes, *(first + passed - 1)};
}

uint32_t LineIndex::line_end(uint32_t line) const {
  return line + 1 < line_count() ? line_starts_[line + 1] - 1 : text_length(text_);
}

Position LineIndex::position_of(uint32_t offset) const {
  const uint32_t clamped = std::min(offset, text_length(text_));
  // The last line start at or before the offset; line_starts_[0] == 0 makes it exist.
  const auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), clamped);
  return position_on_line(clamped, static_cast<uint32_t>(after - line_starts_.begin() - 1));
}

Position LineIndex::position_at_or_after(uint32_t offset, uint32_t& line_hint) const {
  const uint32_t clamped = std::min(offset, text_length(text_));
  if (line_hint >= line_count() || line_starts_[line_hint] > clamped) return position_of(offset);
  while (line_hint + 1 < line_count() && line_starts_[line_hint + 1] <= clamped) ++line_hint;
  return position_on_line(clamped, line_hint);
}

Position LineIndex::position_on_line(uint32_t clamped, uint32_t line) const {
  const uint32_t start = line_starts_[line];
  if (ascii_lines_[line]) {
    return {line, clamped - start};
  }
  const uint32_t at = character_start(text_, clamped, start);
  const WalkStart walk = walk_start_at_offset(line, at);
  return {line, walk.column + column_between(text_, walk.offset, at)};
}

Range LineIndex::range_of(TextRange range) const {
  return {position_of(range.start), position_of(range.end)};
}

uint32_t LineIndex::offset_of(Position position) const {
  if (position.line >= line_count()) {
    return text_length(text_);
  }
  const uint32_t start = line_starts_[position.line];
  const uint32_t end = line_end(position.line);
  if (ascii_lines_[position.line]) {
    return start + std::min(position.character, end - start);
  }
  const WalkStart walk = walk_start_at_column(position.line, position.character);
  return offset_at_column(text_, walk.offset, end, position.character, walk.column);
}

Position offset_to_position(std::string_view text, uint32_t offset) {
  const uint32_t clamped = std::min(offset, text_length(text));
  uint32_t line = 0;
  uint32_t line_start = 0;
  for (size_t lf = text.find('\n'); lf < clamped; lf = text.find('\n', lf + 1)) {
    ++line;
    line_start = static_cast<uint32_t>(lf + 1);
  }
  const uint32_t start = character_start(text, clamped, line_start);
  return {line, column_between(text, line_start, start)};
}

Range text_range_to_lsp_range(std::string_view text, TextRange range) {
  return {offset_to_position(text, range.start), offset_to_position(text, range.end)};
}

uint32_t position_to_offset(std::string_view text, uint32_t line, uint32_t character) {
  const uint32_t length = text_length(text);
  uint32_t line_start = 0;
  for (uint32_t skipped = 0; skipped < line; ++skipped) {
    const size_t lf = text.find('\n', line_start);
    if (lf >= length) {
      return length;
    }
    line_start = static_cast<uint32_t>(lf + 1);
  }
  const uint32_t line_end =
      static_cast<uint32_t>(std::min<size_t>(text.find('\n', line_start), length));
  return offset_at_column(text, line_start, line_end, character, 0);
}

uint32_t last_non_whitespace_offset(std::string_view text, uint32_t start, uint32_t end) {
  const uint32_t limit = std::min(end, text_length(text));
  for (uint32_t i = limit; i > start; --i) {
    if (!is_layout_space(static_cast<unsigned char>(text[i - 1]))) {
      return character_start(text, i - 1, start);
    }
  }
  return std::min(limit, start);
}

}  // namespace quib::lsp
