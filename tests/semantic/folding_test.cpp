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
// A name opened again is the same group continued: an unclosed group folds to the last task
// of that name anywhere, across the other group in between.
TEST(Folding, UnclosedGroupReachesTasksOfTheSameNameLater) {
  const std::string text = "group g {\na:\n    echo\ngroup h {\ngroup g {\nb:\n    echo\n}\n";
  const auto at = [&](std::string_view part) { return static_cast<uint32_t>(text.find(part)); };
  const uint32_t second_g = at("group g {\nb");
  const uint32_t end_of_b = at("}\n");
  const std::vector<FoldingRegion> regions = folding_ranges(analyze(parse(text)));
  const std::vector<FoldingRegion> groups(regions.end() - 3, regions.end());
  EXPECT_EQ(groups, (std::vector<FoldingRegion>{
                        {0, end_of_b, kGroup},
                        {at("group h"), at("group h") + 10, kGroup},
                        {second_g, end_of_b + 2, kGroup},
                    }));
}

}  // namespace
}  // namespace quib
