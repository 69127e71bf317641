// Red handles: stepping a handle along its siblings reads the same nodes as asking for each next
// sibling, and never moves a node another handle still holds.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "syntax/parse.h"

namespace quib {
namespace {

constexpr std::string_view kDocument =
    "!version 0.1\n# note\n[help] Build\nbuild(x) & setup:\n    make {{ x }}\n\n"
    "group ci {\n    test():\n        run\n}\n@stray\nlast:\n    echo\n";

struct Seen {
  SyntaxKind kind;
  TextRange range;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> by_next_sibling(const SyntaxNode& root) {
  std::vector<Seen> seen;
  for (std::optional<SyntaxNode> item = root.first_child(); item; item = item->next_sibling()) {
    seen.push_back({item->kind(), item->text_range()});
  }
  return seen;
}

TEST(StepToNextSibling, VisitsWhatNextSiblingVisits) {
  const ParseResult parsed = parse(kDocument);
  const std::vector<Seen> expected = by_next_sibling(parsed.root);
  ASSERT_GE(expected.size(), 6u);

  std::vector<Seen> stepped;
  std::optional<SyntaxNode> item = parsed.root.first_child();
  for (bool more = item.has_value(); more; more = item->step_to_next_sibling()) {
    stepped.push_back({item->kind(), item->text_range()});
  }
  EXPECT_EQ(stepped, expected);
  // At the last sibling, the handle stays where it was.
  EXPECT_EQ(Seen({item->kind(), item->text_range()}), expected.back());
}

TEST(StepToNextSibling, LeavesNodesOtherHandlesHoldWhereTheyAre) {
  const ParseResult parsed = parse(kDocument);
  const std::vector<Seen> expected = by_next_sibling(parsed.root);
  std::vector<SyntaxNode> kept;  // a copy of every item, and a child of every other one
  std::vector<std::optional<SyntaxNode>> children;
  std::optional<SyntaxNode> item = parsed.root.first_child();
  for (bool more = true; more; more = item->step_to_next_sibling()) {
    kept.push_back(*item);
    if (kept.size() % 2 == 0) children.push_back(item->first_child());
  }
  ASSERT_EQ(kept.size(), expected.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(Seen({kept[i].kind(), kept[i].text_range()}), expected[i]) << i;
    EXPECT_EQ(kept[i].text(),
              std::string(kDocument.substr(expected[i].range.start, expected[i].range.len())));
  }
}

}  // namespace
}  // namespace quib
