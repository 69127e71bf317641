// Tests of white-space trimming over UTF-8 bytes.
#include "syntax/text_util.h"

#include <gtest/gtest.h>

namespace quib {
namespace {

struct TrimCase {
  std::string_view text;
  std::string_view expected;
};

class TrimUnicodeWhitespace : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimUnicodeWhitespace, TrimsWholeSpacesAtBothEnds) {
  EXPECT_EQ(trim_unicode_whitespace(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimUnicodeWhitespace,
    testing::Values(TrimCase{"", ""}, TrimCase{" \t\r\n\v\f", ""}, TrimCase{" a b ", "a b"},
                    TrimCase{"\u00A0¥\u3000", "¥"}, TrimCase{"\u2000↓\u200A", "↓"},
                    TrimCase{"\u0085\u1680\u2028\u2029\u202F\u205F😂 \u00A0", "😂"},
                    // Zero-width space is not white space.
                    TrimCase{"\u200B", "\u200B"},
                    // Letters whose last byte equals the last byte of a space encoding:
                    // à ends in A0 like U+00A0, Å in 85 like U+0085, Ⅰ (U+2160) in A0 too.
                    TrimCase{"à", "à"}, TrimCase{"Å", "Å"}, TrimCase{"\u2160", "\u2160"},
                    // Lone bytes of a space encoding are malformed text, kept as they are.
                    TrimCase{"\xA0x\x85", "\xA0x\x85"}, TrimCase{"\xC2", "\xC2"},
                    // Symbols led like spaces (E2, E3) but not spaces; a lone lead at the end.
                    TrimCase{"✔ ok ✔", "✔ ok ✔"}, TrimCase{"\u3000x\u3001", "x\u3001"},
                    TrimCase{"x\xE2\x80", "x\xE2\x80"}, TrimCase{"\x7F", "\x7F"}));

}  // namespace
}  // namespace quib
