// Tests of offset <-> position conversion: hand-picked edge cases, then a comparison of
// LineIndex and the one-shot functions with a plain character-by-character scan.
#include "lsp/position.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace quib::lsp {
namespace {

// ¥ is two bytes, ↓ three, 😂 four (a surrogate pair in UTF-16).
constexpr std::string_view kYen = "¥";
constexpr std::string_view kArrow = "↓";
constexpr std::string_view kJoy = "😂";

struct OffsetCase {
  std::string_view text;
  uint32_t offset;
  Position expected;
};

class OffsetToPosition : public testing::TestWithParam<OffsetCase> {};

TEST_P(OffsetToPosition, IndexAndOneShotAgree) {
  const OffsetCase& c = GetParam();
  EXPECT_EQ(offset_to_position(c.text, c.offset), c.expected);
  EXPECT_EQ(LineIndex(c.text).position_of(c.offset), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OffsetToPosition,
    testing::Values(OffsetCase{"", 0, {0, 0}}, OffsetCase{"", 7, {0, 0}},
                    // CR is an ordinary character: CRLF ends a line only at its LF.
                    OffsetCase{"a\r\nb", 1, {0, 1}}, OffsetCase{"a\r\nb", 2, {0, 2}},
                    OffsetCase{"a\r\nb", 3, {1, 0}}, OffsetCase{"a\rb", 2, {0, 2}},
                    OffsetCase{"x😂y", 1, {0, 1}}, OffsetCase{"x😂y", 5, {0, 3}},
                    OffsetCase{"x😂y", 6, {0, 4}},
                    // ¥ ↓ 😂 LF ¥: the 😂 ends at byte 9, the second ¥ starts at 10.
                    OffsetCase{"¥↓😂\n¥", 2, {0, 1}}, OffsetCase{"¥↓😂\n¥", 5, {0, 2}},
                    OffsetCase{"¥↓😂\n¥", 9, {0, 4}}, OffsetCase{"¥↓😂\n¥", 10, {1, 0}},
                    OffsetCase{"¥↓😂\n¥", 12, {1, 1}}, OffsetCase{"¥↓😂\n¥", 99, {1, 1}},
                    // An ASCII line after a non-ASCII one, and a text ending in LF.
                    OffsetCase{"😂\nab\n", 7, {1, 2}}, OffsetCase{"😂\nab\n", 8, {2, 0}},
                    OffsetCase{"\t↓\r", 5, {0, 3}}));

struct PositionCase {
  std::string_view text;
  Position position;
  uint32_t expected;
};

class PositionToOffset : public testing::TestWithParam<PositionCase> {};

TEST_P(PositionToOffset, IndexAndOneShotAgree) {
  const PositionCase& c = GetParam();
  EXPECT_EQ(position_to_offset(c.text, c.position.line, c.position.character), c.expected);
  EXPECT_EQ(LineIndex(c.text).offset_of(c.position), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionToOffset,
    testing::Values(PositionCase{"", {0, 0}, 0}, PositionCase{"", {3, 7}, 0},
                    // Past the end of a CRLF line: the LF, which lies after the CR.
                    PositionCase{"a\r\nb", {0, 5}, 2}, PositionCase{"a\r\nb", {1, 0}, 3},
                    PositionCase{"a\r\nb", {1, 9}, 4},
                    // Inside the surrogate pair rounds down to the start of 😂.
                    PositionCase{"x😂y", {0, 1}, 1}, PositionCase{"x😂y", {0, 2}, 1},
                    PositionCase{"x😂y", {0, 3}, 5}, PositionCase{"¥↓😂", {0, 1}, 2},
                    PositionCase{"¥↓😂", {0, 2}, 5}, PositionCase{"¥↓😂", {0, 3}, 5},
                    PositionCase{"¥↓😂", {0, 4}, 9}, PositionCase{"¥↓😂", {0, 100}, 9},
                    PositionCase{"¥\n↓", {7, 0}, 6}, PositionCase{"¥\n↓", {1, 1}, 6},
                    // Past the end of a middle line: its LF; the line after a final LF.
                    PositionCase{"↓\n😂\n", {0, 100}, 3}, PositionCase{"↓\n😂\n", {1, 1}, 4},
                    PositionCase{"↓\n😂\n", {2, 0}, 9}, PositionCase{"↓\n😂\n", {2, 5}, 9},
                    PositionCase{"ab\ncd", {0, 9}, 2}, PositionCase{"ab\ncd", {1, 1}, 4},
                    PositionCase{"ab\ncd", {0xFFFFFFFF, 0xFFFFFFFF}, 5}));

struct VisibleEndCase {
  std::string_view text;
  uint32_t start;
  uint32_t end;
  uint32_t expected;
};

class LastNonWhitespace : public testing::TestWithParam<VisibleEndCase> {};

TEST_P(LastNonWhitespace, FindsStartOfLastVisibleCharacter) {
  const VisibleEndCase& c = GetParam();
  EXPECT_EQ(last_non_whitespace_offset(c.text, c.start, c.end), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LastNonWhitespace,
    testing::Values(VisibleEndCase{"echo é \n", 0, 9, 5}, VisibleEndCase{"   \n", 0, 4, 0},
                    VisibleEndCase{"x   \n", 1, 5, 1}, VisibleEndCase{"a ↓\t\r\n", 0, 7, 2},
                    VisibleEndCase{"x😂  ", 0, 7, 1}, VisibleEndCase{"¥ ↓ ", 0, 3, 0},
                    VisibleEndCase{"¥ ↓ ", 3, 7, 3}, VisibleEndCase{"a\f\f", 1, 3, 1},
                    // Vertical tab is not layout white space here.
                    VisibleEndCase{"a\v", 0, 2, 1},
                    // Empty, reversed and out-of-range ranges fall back to start or the limit.
                    VisibleEndCase{"abc", 2, 2, 2}, VisibleEndCase{"abc", 3, 1, 1},
                    VisibleEndCase{"ab¥", 0, 50, 2}, VisibleEndCase{"ab", 9, 20, 2}));

TEST(PositionMapping, OffsetsInsideCharactersAndCutSequencesStayInBounds) {
  // Callers pass boundaries; anything else must still be answered without reading outside.
  const std::string_view text = "a😂\n\xF0\x9F";
  const LineIndex index(text);
  EXPECT_EQ(index.position_of(3), (Position{0, 1}));
  EXPECT_EQ(offset_to_position(text, 3), (Position{0, 1}));
  EXPECT_EQ(index.position_of(8), (Position{1, 2}));
  EXPECT_EQ(index.offset_of({1, 9}), 8u);
  EXPECT_EQ(position_to_offset(text, 1, 9), 8u);
  EXPECT_EQ(last_non_whitespace_offset(text, 6, 8), 6u);
}

// The obvious, slow reading of the rules: decode every character from the start of the text.
struct Decoded {
  uint32_t code_point;
  uint32_t length;
};

Decoded decode(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const auto next = [&](size_t i) { return static_cast<unsigned char>(text[at + i]) & 0x3Fu; };
  if (lead < 0x80) {
    return {lead, 1};
  }
  if (lead < 0xE0) {
    return {(lead & 0x1Fu) << 6 | next(1), 2};
  }
  if (lead < 0xF0) {
    return {(lead & 0x0Fu) << 12 | next(1) << 6 | next(2), 3};
  }
  return {(lead & 0x07u) << 18 | next(1) << 12 | next(2) << 6 | next(3), 4};
}

uint32_t units_of(uint32_t code_point) {
  return code_point >= 0x10000 ? 2 : 1;
}

Position scan_offset_to_position(std::string_view text, uint32_t offset) {
  const size_t end = std::min<size_t>(offset, text.size());
  Position position;
  for (size_t i = 0; i < end;) {
    const Decoded c = decode(text, i);
    if (c.code_point == '\n') {
      ++position.line;
      position.character = 0;
    } else {
      position.character += units_of(c.code_point);
    }
    i += c.length;
  }
  return position;
}

uint32_t scan_position_to_offset(std::string_view text, uint32_t line, uint32_t character) {
  uint32_t offset = 0;
  uint32_t current_line = 0;
  uint32_t column = 0;
  while (offset < text.size()) {
    const Decoded c = decode(text, offset);
    if (current_line == line && column >= character) {
      return offset;
    }
    if (c.code_point == '\n') {
      if (current_line == line) {
        return offset;
      }
      ++current_line;
      ++offset;
      column = 0;
      continue;
    }
    if (current_line == line) {
      column += units_of(c.code_point);
      if (column > character) {
        return offset;
      }
    }
    offset += c.length;
  }
  return offset;
}

uint32_t scan_last_non_whitespace(std::string_view text, uint32_t start, uint32_t end) {
  const uint32_t limit = std::min<uint32_t>(end, static_cast<uint32_t>(text.size()));
  uint32_t result = std::min(limit, start);
  for (int64_t i = int64_t{limit} - 1; i >= int64_t{start}; --i) {
    const char byte = text[static_cast<size_t>(i)];
    if (byte == ' ' || byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r') {
      continue;
    }
    while ((static_cast<unsigned char>(text[static_cast<size_t>(i)]) & 0xC0) == 0x80) {
      --i;
    }
    result = static_cast<uint32_t>(i);
    break;
  }
  return result;
}

std::vector<uint32_t> character_boundaries(std::string_view text) {
  std::vector<uint32_t> boundaries;
  for (size_t i = 0; i < text.size(); i += decode(text, i).length) {
    boundaries.push_back(static_cast<uint32_t>(i));
  }
  boundaries.push_back(static_cast<uint32_t>(text.size()));
  return boundaries;
}

std::string random_text(std::mt19937& rng) {
  static constexpr std::string_view kPieces[] = {"a",    "Z",  " ",    "\t", "\r", "\n",
                                                 "\r\n", kYen, kArrow, kJoy, "é",  "\n\n"};
  std::string text;
  const uint32_t pieces = rng() % 24;
  // Some texts stay ASCII so the index's fast path is compared too.
  const uint32_t choices = rng() % 3 == 0 ? 7 : std::size(kPieces);
  for (uint32_t i = 0; i < pieces; ++i) {
    text += kPieces[rng() % choices];
  }
  return text;
}

TEST(PositionMapping, MatchesCharacterScanOnGeneratedTexts) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 400; ++round) {
    const std::string text = random_text(rng);
    SCOPED_TRACE(testing::Message() << "text: " << testing::PrintToString(text));
    const LineIndex index(text);
    const std::vector<uint32_t> boundaries = character_boundaries(text);

    std::vector<uint32_t> offsets = boundaries;
    offsets.push_back(static_cast<uint32_t>(text.size()) + 3);
    offsets.push_back(0xFFFFFFFF);
    uint32_t widest_line = 0;
    uint32_t line_hint = 0;  // offsets are visited in increasing order
    for (const uint32_t offset : offsets) {
      const Position expected = scan_offset_to_position(text, offset);
      ASSERT_EQ(index.position_of(offset), expected) << "offset " << offset;
      ASSERT_EQ(index.position_at_or_after(offset, line_hint), expected) << "offset " << offset;
      ASSERT_EQ(offset_to_position(text, offset), expected) << "offset " << offset;
      widest_line = std::max(widest_line, expected.character);
      if (offset <= text.size()) {
        ASSERT_EQ(index.offset_of(expected), offset) << "round trip of offset " << offset;
      }
    }
    const uint32_t last_line = scan_offset_to_position(text, 0xFFFFFFFF).line;

    for (uint32_t line = 0; line <= last_line + 2; ++line) {
      for (uint32_t character = 0; character <= widest_line + 3; ++character) {
        const uint32_t expected = scan_position_to_offset(text, line, character);
        ASSERT_EQ(index.offset_of({line, character}), expected) << line << ":" << character;
        ASSERT_EQ(position_to_offset(text, line, character), expected) << line << ":" << character;
      }
      ASSERT_EQ(index.offset_of({line, 0xFFFFFFFF}),
                scan_position_to_offset(text, line, 0xFFFFFFFF));
    }

    for (const uint32_t start : offsets) {
      for (const uint32_t end : offsets) {
        ASSERT_EQ(last_non_whitespace_offset(text, start, end),
                  scan_last_non_whitespace(text, start, end))
            << start << ".." << end;
      }
    }
  }
}

// Lines of hundreds to thousands of bytes, mixing characters of every width so that they
// straddle the index's checkpoints at random, the last line with or without a line break.
TEST(PositionMapping, LongLinesMatchCharacterScan) {
  static constexpr std::string_view kPieces[] = {"a", " ", "\t", "\r", kYen, kArrow, kJoy, "é"};
  std::mt19937 rng(20261209);
  for (int round = 0; round < 12; ++round) {
    std::string text;
    const uint32_t lines = 1 + rng() % 3;
    for (uint32_t line = 0; line < lines; ++line) {
      if (line > 0) text += '\n';
      const uint32_t pieces = rng() % 4 == 0 ? rng() % 40 : 150 + rng() % 700;
      for (uint32_t i = 0; i < pieces; ++i) text += kPieces[rng() % std::size(kPieces)];
    }
    if (rng() % 2 == 0) text += '\n';
    SCOPED_TRACE(testing::Message() << "round " << round);
    const LineIndex index(text);
    uint32_t widest_line = 0;
    uint32_t line_hint = 0;
    for (const uint32_t offset : character_boundaries(text)) {
      const Position expected = scan_offset_to_position(text, offset);
      ASSERT_EQ(index.position_of(offset), expected) << "offset " << offset;
      ASSERT_EQ(index.position_at_or_after(offset, line_hint), expected) << "offset " << offset;
      // An offset inside a character is read as the character's first byte, as the one-shot
      // scan from the text's start reads it.
      ASSERT_EQ(index.position_of(offset + 1), offset_to_position(text, offset + 1))
          << "offset " << offset + 1;
      widest_line = std::max(widest_line, expected.character);
    }
    for (uint32_t line = 0; line <= lines; ++line) {
      for (uint32_t character = 0; character <= widest_line + 2; ++character) {
        ASSERT_EQ(index.offset_of({line, character}),
                  scan_position_to_offset(text, line, character))
            << line << ":" << character;
      }
    }
  }
}

TEST(PositionMapping, RangeConvertsEachEndIndependently) {
  const std::string_view text = "¥\n↓😂\r\n";
  const Range expected{{0, 1}, {1, 3}};
  EXPECT_EQ(text_range_to_lsp_range(text, TextRange(2, 10)), expected);
  EXPECT_EQ(LineIndex(text).range_of(TextRange(2, 10)), expected);
}

}  // namespace
}  // namespace quib::lsp
