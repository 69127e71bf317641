// Fuzzes position mapping: LineIndex and the one-shot conversions agree with a plain
// character-by-character scan of the text, for every offset and position (all of them on small
// texts, a spread of them on large ones), including offsets and positions far past the end.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "lsp/position.h"

namespace quib::fuzz {
namespace {

using lsp::LineIndex;
using lsp::Position;

constexpr uint32_t kHuge = UINT32_MAX;
// Above this size each query is checked for a spread of values instead of all of them.
constexpr size_t kExhaustiveBytes = 192;
constexpr size_t kSampledQueries = 40;

uint32_t utf16_units(std::string_view text, size_t i) {
  return utf8_sequence_length(text, i) == 4 ? 2 : 1;
}

// Walks from the start to `offset` (clamped, and moved back to its character's first byte).
Position scan_position(std::string_view text, uint32_t offset) {
  const size_t target = std::min<size_t>(offset, text.size());
  Position position;
  for (size_t i = 0; i < text.size();) {
    const size_t length = utf8_sequence_length(text, i);
    if (i + length > target) break;
    if (text[i] == '\n') {
      ++position.line;
      position.character = 0;
    } else {
      position.character += utf16_units(text, i);
    }
    i += length;
  }
  return position;
}

// Walks character by character, counting lines and, on the asked line, UTF-16 columns.
uint32_t scan_offset(std::string_view text, uint32_t line, uint32_t character) {
  uint32_t current_line = 0;
  uint64_t column = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (current_line == line && column >= character) break;
    if (text[i] == '\n') {
      if (current_line == line) break;
      ++current_line;
      column = 0;
      ++i;
      continue;
    }
    if (current_line == line) {
      column += utf16_units(text, i);
      if (column > character) break;
    }
    i += utf8_sequence_length(text, i);
  }
  return static_cast<uint32_t>(i);
}

uint32_t scan_last_visible(std::string_view text, uint32_t start, uint32_t end) {
  const uint32_t limit = std::min<uint32_t>(end, static_cast<uint32_t>(text.size()));
  for (uint32_t i = limit; i > start; --i) {
    const char c = text[i - 1];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r') continue;
    uint32_t first = i - 1;
    while (!is_char_boundary(text, first)) --first;
    return first;
  }
  return std::min(limit, start);
}

// 0..limit when that is small, else an even spread over it; plus the values just past it
// and the largest offset.
std::vector<uint32_t> values_up_to(uint64_t limit, bool exhaustive) {
  std::vector<uint32_t> values;
  const uint64_t step = exhaustive ? 1 : std::max<uint64_t>(1, limit / kSampledQueries);
  for (uint64_t v = 0; v <= limit; v += step) values.push_back(static_cast<uint32_t>(v));
  for (uint64_t v = limit; v <= limit + 2 && v < kHuge; ++v) {
    values.push_back(static_cast<uint32_t>(v));
  }
  values.push_back(kHuge);
  return values;
}

void check(std::string_view text) {
  const bool exhaustive = text.size() <= kExhaustiveBytes;
  const LineIndex index(text);
  const auto line_count = static_cast<uint32_t>(std::count(text.begin(), text.end(), '\n') + 1);

  for (uint32_t offset : values_up_to(text.size(), exhaustive)) {
    const Position expected = scan_position(text, offset);
    FUZZ_CHECK(index.position_of(offset) == expected, "LineIndex::position_of");
    FUZZ_CHECK(lsp::offset_to_position(text, offset) == expected, "offset_to_position");
  }

  // Columns up to a little past the longest line, on every line and one past the last.
  uint32_t longest = 0;
  for (uint32_t line = 0; line < line_count; ++line) {
    longest = std::max(longest, index.position_of(index.offset_of({line, kHuge})).character);
  }
  for (uint32_t line : values_up_to(line_count, exhaustive)) {
    for (uint32_t character : values_up_to(longest + 1, exhaustive)) {
      const uint32_t expected = scan_offset(text, line, character);
      FUZZ_CHECK(index.offset_of({line, character}) == expected, "LineIndex::offset_of");
      FUZZ_CHECK(lsp::position_to_offset(text, line, character) == expected, "position_to_offset");
    }
  }

  std::vector<uint32_t> boundaries;
  for (uint32_t offset : values_up_to(text.size(), exhaustive)) {
    if (offset <= text.size() && is_char_boundary(text, offset)) boundaries.push_back(offset);
  }
  boundaries.push_back(kHuge);
  const size_t pairs_step = std::max<size_t>(1, boundaries.size() / 24);
  for (size_t a = 0; a < boundaries.size(); a += pairs_step) {
    for (size_t b = 0; b < boundaries.size(); b += pairs_step) {
      FUZZ_CHECK(lsp::last_non_whitespace_offset(text, boundaries[a], boundaries[b]) ==
                     scan_last_visible(text, boundaries[a], boundaries[b]),
                 "last_non_whitespace_offset");
    }
  }
}

}  // namespace
}  // namespace quib::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!quib::fuzz::is_valid_utf8(text)) return -1;
  quib::fuzz::check(text);
  return 0;
}
