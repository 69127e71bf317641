// Folding regions: `[[...]]` in a fixture marks an expected region, and each expectation names
// a region by its marker number and family, in the order the regions are returned.
#include "semantic/folding.h"

#include <gtest/gtest.h>

#include <ostream>
#include <utility>
#include <vector>

#include "fixture.h"
#include "semantic/analyze.h"
#include "syntax/parse.h"

namespace quib {

// Found by argument-dependent lookup, so it lives beside the type.
void PrintTo(const FoldingRegion& region, std::ostream* out) {
  static constexpr const char* kFamilies[] = {"task", "block", "group"};
  *out << kFamilies[static_cast<int>(region.family)] << "@" << region.start << ".." << region.end;
}

namespace {

using Expected = std::vector<std::pair<FoldingFamily, size_t>>;  // family, marker index

void check_folds(std::string_view annotated, const Expected& expected) {
  const testing_support::Fixture f = testing_support::parse_fixture(annotated);
  std::vector<FoldingRegion> want;
  for (const auto& [family, marker] : expected) {
    want.push_back({f.ranges.at(marker).start, f.ranges.at(marker).end, family});
  }
  EXPECT_EQ(folding_ranges(analyze(parse(f.text))), want) << "document:\n" << f.text;
}

constexpr FoldingFamily kTask = FoldingFamily::Task;
constexpr FoldingFamily kBlock = FoldingFamily::Block;
constexpr FoldingFamily kGroup = FoldingFamily::Group;

TEST(Folding, NothingToFoldWithoutTasksOrGroups) {
  check_folds("!var a = \"x\"\n# note\n[help] dangling\n", {});
}

TEST(Folding, OneLineTaskStillFolds) {
  check_folds("[[t:\n]][[u:]]", {{kTask, 0}, {kTask, 1}});
}

TEST(Folding, TasksComeBeforeBlocks) {
  check_folds(
      "[[t:\n[[    | a\n    | b\n    | c]]\n    echo\n    | single\n]]"
      "[[u:\n[[    | d\n    | e]]\n]]",
      {{kTask, 0}, {kTask, 2}, {kBlock, 1}, {kBlock, 3}});
}

TEST(Folding, ClosedGroupEndsAtItsBrace) {
  check_folds("[[group g {\n[[a:\n    echo\n]]}\n]][[group g {\n[[b:\n    echo\n]]]]",
              {{kTask, 1}, {kTask, 3}, {kGroup, 0}, {kGroup, 2}});
}

TEST(Folding, UnclosedGroupEndsWithItsLastTask) {
  check_folds("[[group g {\n[[a:\n    echo\n]][[b:\n    echo\n\n\n]]]]",
              {{kTask, 1}, {kTask, 2}, {kGroup, 0}});
  check_folds("[[x:\n    echo\n]][[group g {\n]]", {{kTask, 0}, {kGroup, 1}});
}

// Matching tasks to an open group by name alone would stretch the first `g` over `h` and the
// second `g`; a group replaced by the next group line ends before it.
TEST(Folding, UnclosedGroupStopsAtTheNextGroupLine) {
  check_folds(
      "[[group g {\n[[a:\n    echo\n]]]][[group h {\n]][[group g {\n[[b:\n    echo\n]]}\n]]",
      {{kTask, 1}, {kTask, 4}, {kGroup, 0}, {kGroup, 2}, {kGroup, 3}});
}

}  // namespace
}  // namespace quib
