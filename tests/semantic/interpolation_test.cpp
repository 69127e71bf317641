// Tests of "{{ name }}" reference scanning and of the name ranges used for highlighting.
#include "semantic/interpolation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quib {
namespace {

// A found reference: its name, its range and the range of the name inside it.
struct Expected {
  std::string name;
  TextRange range;
  TextRange name_range;
};

struct ScanCase {
  std::string_view text;
  std::vector<Expected> expected;
};

class ScanInterpolations : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanInterpolations, FindsReferencesAndNameRanges) {
  const ScanCase& c = GetParam();
  const std::vector<Interpolation> found = scan_interpolations(c.text);
  ASSERT_EQ(found.size(), c.expected.size());
  for (size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(found[i].name, c.expected[i].name);
    EXPECT_EQ(found[i].range, c.expected[i].range);
    EXPECT_EQ(interpolation_name_range(c.text, found[i]), c.expected[i].name_range);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanInterpolations,
    testing::Values(
        ScanCase{"echo {{name}}", {{"name", {5, 13}, {7, 11}}}},
        ScanCase{"{{ name }}", {{"name", {0, 10}, {3, 7}}}}, ScanCase{"no braces { here }", {}},
        // Escaping: an odd run of backslashes escapes the opening, an even run does not.
        ScanCase{"\\{{a}}", {}}, ScanCase{"\\\\{{a}}", {{"a", {2, 7}, {4, 5}}}},
        ScanCase{"\\\\\\{{a}}", {}},
        // The scan resumes after an escaped opening, ignoring the "}}" that followed it.
        ScanCase{"\\{{a}} {{b}}", {{"b", {7, 12}, {9, 10}}}},
        // Empty names: an empty range right after the opening braces.
        ScanCase{"{{}}", {{"", {0, 4}, {2, 2}}}}, ScanCase{"x{{ \t }}", {{"", {1, 8}, {3, 3}}}},
        // Unterminated openings yield nothing and end the scan.
        ScanCase{"echo {{b", {}}, ScanCase{"{{a}} {{b", {{"a", {0, 5}, {2, 3}}}},
        ScanCase{"{{a {{b}} {{c}}", {{"a {{b", {0, 9}, {2, 7}}, {"c", {10, 15}, {12, 13}}}},
        ScanCase{"{{a}}}", {{"a", {0, 5}, {2, 3}}}}, ScanCase{"{{{a}}", {{"{a", {0, 6}, {2, 4}}}},
        ScanCase{"{{ two words }}", {{"two words", {0, 15}, {3, 12}}}},
        // Ranges are bytes: ¥ is 2, ↓ 3, 😂 4, U+00A0 2 and U+3000 3 bytes long.
        ScanCase{"¥{{ ↓ }}😂{{\u00A0😂\u3000}}", {{"↓", {2, 11}, {5, 8}}, {"😂", {15, 28}, {19, 23}}}},
        ScanCase{"echo ↓ {{\r\nx\f}}", {{"x", {9, 17}, {13, 14}}}},
        // Lone braces are no pair: a lone `{` before an opening, a lone `}` inside a name.
        ScanCase{"{x{{a}}", {{"a", {2, 7}, {4, 5}}}}, ScanCase{"{ {a}}", {}},
        ScanCase{"{{a} }", {}}, ScanCase{"{{a}x}}", {{"a}x", {0, 7}, {2, 5}}}},
        // ASCII and Unicode blanks mixed on both sides of a name.
        ScanCase{"{{ \u3000 a \u3000 }}", {{"a", {0, 15}, {7, 8}}}}));

TEST(InterpolationNameRange, RejectsRecordsThatDoNotFitTheText) {
  const std::string_view text = "{{a}}";
  EXPECT_EQ(interpolation_name_range(text, {"a", TextRange(0, 9)}), std::nullopt);
  EXPECT_EQ(interpolation_name_range(text, {"", TextRange(1, 4)}), std::nullopt);
  EXPECT_EQ(interpolation_name_range(text, {"a", TextRange(0, 5)}), TextRange(2, 3));
}

}  // namespace
}  // namespace quib
