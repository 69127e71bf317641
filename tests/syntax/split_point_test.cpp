// Where a large text is proposed to be cut: a line after an empty line, starting an item at the
// left margin, at or past the middle, with a guess of the group state there.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "syntax/split_point.h"

namespace quib {
namespace {

struct SplitCase {
  const char* name;
  std::string text;
  std::optional<std::string> line;  // the text from the proposed cut on, if any
  bool inside_group = false;
};

class FindSplitPoint : public testing::TestWithParam<SplitCase> {};

TEST_P(FindSplitPoint, ProposesTheExpectedLine) {
  const SplitCase& c = GetParam();
  const std::optional<SplitPoint> split = find_split_point(c.text);
  ASSERT_EQ(split.has_value(), c.line.has_value());
  if (!split) return;
  EXPECT_EQ(c.text.substr(split->offset), *c.line);
  EXPECT_EQ(split->inside_group, c.inside_group);
}

const std::string kHead = "a:\n    echo 1\n\nb:\n    echo 2\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, FindSplitPoint,
    testing::Values(
        SplitCase{"TaskAfterEmptyLine", kHead + "\nc:\n    echo 3\n", "c:\n    echo 3\n"},
        SplitCase{"MetadataAfterEmptyLine", kHead + "\n[help] x\nc:\n    echo 3\n",
                  "[help] x\nc:\n    echo 3\n"},
        SplitCase{"CrLfEmptyLine", kHead + "\r\n\r\nc:\r\n    echo 3\r\n", "c:\r\n    echo 3\r\n"},
        SplitCase{"IndentedLineIsNoCut", kHead + "\n    c:\n        echo 3\n", std::nullopt},
        SplitCase{"CommentIsNoCut", kHead + "\n# c\n    echo\n    echo\n", std::nullopt},
        SplitCase{"NoEmptyLineInTheThirdQuarter",
                  std::string(40, 'x') + "\n\nb:\n" + std::string(40, 'y') + "\n", std::nullopt},
        SplitCase{"InsideAGroup",
                  "group g {\n    a:\n        echo 1\n\n    b:\n        echo 2\n\nc:\n    "
                  "echo 3\n    echo 4\n}\n",
                  "c:\n    echo 3\n    echo 4\n}\n", true},
        SplitCase{"AfterAClosedGroup",
                  "group g {\n    a:\n        echo 1\n    }\n\nc:\n    echo 3\n    echo 4\n",
                  "c:\n    echo 3\n    echo 4\n", false},
        SplitCase{"Empty", "", std::nullopt}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

// A search from a later offset passes over earlier candidates, and looks no further than a
// quarter of the text past that offset, nor past the end.
TEST(FindSplitPointFrom, StartsAtTheGivenOffset) {
  std::string text;
  for (int i = 0; i < 8; ++i) text += "t" + std::to_string(i) + ":\n    echo 1\n\n";
  const size_t task = text.size() / 8;  // each task's lines and the empty line after them
  const auto cut_at = [&](size_t from) -> std::optional<uint32_t> {
    const std::optional<SplitPoint> split = find_split_point(text, from);
    if (!split) return std::nullopt;
    return split->offset;
  };
  EXPECT_EQ(cut_at(0), task);
  EXPECT_EQ(cut_at(task), 2 * task);
  EXPECT_EQ(cut_at(5 * task + 1), 6 * task);
  EXPECT_EQ(cut_at(7 * task), std::nullopt);  // only the end of the text lies past it
  EXPECT_EQ(find_split_point(text)->offset, 5 * task);
}

}  // namespace
}  // namespace quib
