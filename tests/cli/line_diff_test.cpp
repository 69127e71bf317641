// The unified line diff: exact hunks for small cases, and over random texts that applying the
// diff reproduces the new text with no more changed lines than a shortest edit script needs.
#include "cli/line_diff.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

namespace quib::cli {
namespace {

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t length = std::min(text.find('\n'), text.size() - 1) + 1;
    lines.emplace_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

// Applies a unified diff as `patch` would, checking every context and removed line against
// `before`; returns the new text and counts the changed lines.
std::string apply(std::string_view before, const std::string& diff, size_t& changed) {
  const std::vector<std::string> old_lines = lines_of(before);
  // Fold each no-newline marker into the line it follows.
  std::vector<std::string> diff_lines;
  for (std::string& line : lines_of(diff)) {
    if (line != "\\ No newline at end of file\n") {
      diff_lines.push_back(std::move(line));
    } else if (diff_lines.empty()) {
      throw std::logic_error("no-newline marker before any line");
    } else {
      diff_lines.back().pop_back();
    }
  }
  std::string out;
  size_t next_old = 0;  // 0-based
  for (size_t i = 2; i < diff_lines.size(); ++i) {
    const std::string& line = diff_lines[i];
    if (line.starts_with("@@ -")) {
      size_t digits = 0;
      const size_t first = std::stoul(line.substr(4), &digits);
      const bool empty_side = line.substr(4 + digits, 3) == ",0 ";
      const size_t start = empty_side ? first : first - 1;
      EXPECT_GE(start, next_old) << "hunks out of order";
      for (; next_old < start; ++next_old) out += old_lines.at(next_old);
      continue;
    }
    const std::string body = line.substr(1);
    if (line[0] == '+') {
      out += body;
      ++changed;
      continue;
    }
    EXPECT_EQ(old_lines.at(next_old), body);
    ++next_old;
    if (line[0] == ' ') {
      out += body;
    } else {
      EXPECT_EQ(line[0], '-');
      ++changed;
    }
  }
  for (; next_old < old_lines.size(); ++next_old) out += old_lines[next_old];
  return out;
}

size_t longest_common_subsequence(const std::vector<std::string>& a,
                                  const std::vector<std::string>& b) {
  std::vector<std::vector<size_t>> table(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = a.size(); i-- > 0;) {
    for (size_t j = b.size(); j-- > 0;) {
      table[i][j] =
          a[i] == b[j] ? table[i + 1][j + 1] + 1 : std::max(table[i + 1][j], table[i][j + 1]);
    }
  }
  return table[0][0];
}

struct DiffCase {
  const char* name;
  std::string_view before;
  std::string_view after;
  std::string_view expected;  // without the two header lines
};

class LineDiffTest : public ::testing::TestWithParam<DiffCase> {};

TEST_P(LineDiffTest, WritesTheExpectedHunks) {
  const std::string diff = unified_diff(GetParam().before, GetParam().after, "old", "new");
  EXPECT_EQ(diff, "--- old\n+++ new\n" + std::string(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineDiffTest,
    ::testing::Values(
        DiffCase{"OneLineChanged", "a\nb\nc\n", "a\nB\nc\n", "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
        // An empty side names the line after which the change applies.
        DiffCase{"IntoEmptyText", "", "a\n", "@@ -0,0 +1 @@\n+a\n"},
        DiffCase{"AllRemoved", "a\nb\n", "", "@@ -1,2 +0,0 @@\n-a\n-b\n"},
        DiffCase{"InsertedAfterContext", "1\n2\n3\n4\n5\n", "1\n2\n3\n4\n5\nx\n",
                 "@@ -3,3 +3,4 @@\n 3\n 4\n 5\n+x\n"},
        DiffCase{"MissingFinalNewlineAdded", "a\nb", "a\nb\n",
                 "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
        // Changes 7 unchanged lines apart get separate hunks; 6 apart share one.
        DiffCase{"FarApartSplit", "x\n1\n2\n3\n4\n5\n6\n7\ny\n", "X\n1\n2\n3\n4\n5\n6\n7\nY\n",
                 "@@ -1,4 +1,4 @@\n-x\n+X\n 1\n 2\n 3\n@@ -6,4 +6,4 @@\n 5\n 6\n 7\n-y\n+Y\n"},
        DiffCase{"CloseTogetherMerged", "x\n1\n2\n3\n4\n5\n6\ny\n", "X\n1\n2\n3\n4\n5\n6\nY\n",
                 "@@ -1,8 +1,8 @@\n-x\n+X\n 1\n 2\n 3\n 4\n 5\n 6\n-y\n+Y\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineDiffTest, EqualTextsGiveNothing) {
  EXPECT_EQ(unified_diff("a\nb", "a\nb", "old", "new"), "");
}

// Up to `max_lines` lines of one letter out of the first `letters`, so that lines repeat and
// many alignments are possible; a quarter of the texts lack the final line feed.
std::string random_text(std::mt19937& random, int max_lines, int letters) {
  std::string text;
  const int lines = std::uniform_int_distribution<int>(0, max_lines)(random);
  for (int i = 0; i < lines; ++i) {
    text += static_cast<char>('a' + std::uniform_int_distribution<int>(0, letters - 1)(random));
    text += '\n';
  }
  if (!text.empty() && random() % 4 == 0) text.pop_back();
  return text;
}

// The diff of `before` into `after` turns the one into the other and changes no more lines
// than a longest common subsequence leaves.
void expect_shortest_diff(const std::string& before, const std::string& after) {
  size_t changed = 0;
  const std::string diff = unified_diff(before, after, "old", "new");
  ASSERT_EQ(apply(before, diff, changed), after) << "before:\n" << before << "\ndiff:\n" << diff;
  const std::vector<std::string> a = lines_of(before);
  const std::vector<std::string> b = lines_of(after);
  EXPECT_EQ(changed, a.size() + b.size() - 2 * longest_common_subsequence(a, b)) << diff;
}

TEST(LineDiffPropertyTest, ApplyingGivesTheNewTextWithAShortestScript) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 500; ++round) {
    const std::string before = random_text(random, 30, 4);
    const std::string after = random_text(random, 30, 4);
    expect_shortest_diff(before, after);
    if (HasFatalFailure()) return;
  }
}

// Texts that differ only between long equal ends: the ends are kept before the search, and
// the script found between them must still line up with the whole texts.
TEST(LineDiffPropertyTest, EqualEndsAroundDifferentMiddles) {
  std::mt19937 random(20261210);
  for (int round = 0; round < 300; ++round) {
    std::string prefix = random_text(random, 20, 3);
    if (!prefix.empty() && prefix.back() != '\n') prefix += '\n';
    const std::string suffix = random_text(random, 20, 3);
    std::string middles[2];
    for (std::string& middle : middles) {
      middle = random_text(random, 8, 3);
      if (!middle.empty() && middle.back() != '\n') middle += '\n';
    }
    const std::string before = prefix + middles[0] + suffix;
    const std::string after = prefix + middles[1] + suffix;
    expect_shortest_diff(before, after);
    if (HasFatalFailure()) return;
  }
}

// A search cut short settles for a longer script, which must still turn the old text into the
// new one; on texts this small, limits of 1 to 3 steps cut most searches short.
TEST(LineDiffPropertyTest, ACutShortSearchStillGivesAValidScript) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 600; ++round) {
    const std::string before = random_text(random, 40, 6);
    const std::string after = random_text(random, 40, 6);
    const size_t limit = 1 + round % 3;
    size_t changed = 0;
    const std::string diff = unified_diff(before, after, "old", "new", limit);
    ASSERT_EQ(apply(before, diff, changed), after) << "limit " << limit << ", diff:\n" << diff;
    const std::vector<std::string> a = lines_of(before);
    const std::vector<std::string> b = lines_of(after);
    EXPECT_GE(changed, a.size() + b.size() - 2 * longest_common_subsequence(a, b));
  }
}

// Every other line of a long text changed: far more changes than the default search takes
// steps, and the diff still reproduces the new text.
TEST(LineDiffTest, ManyChangesBeyondTheSearchLimitStillApply) {
  std::string before;
  std::string after;
  for (int i = 0; i < 20000; ++i) {
    before += "task" + std::to_string(i) + ":\n  echo " + std::to_string(i % 7) + "\n";
    after += "task" + std::to_string(i) + ":\n    echo " + std::to_string(i % 7) + "\n";
  }
  size_t changed = 0;
  EXPECT_EQ(apply(before, unified_diff(before, after, "old", "new"), changed), after);
  EXPECT_EQ(changed, 2u * 20000);
}

}  // namespace
}  // namespace quib::cli
