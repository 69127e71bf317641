// The green tree's storage: children read back exactly as they were built however often the
// arena grew (and moved) while building, shared elements stay shared, and trees of extreme
// depth and width read back through the red layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "syntax/green.h"
#include "syntax/green_walk.h"
#include "syntax/syntax_node.h"

namespace quib {
namespace {

using K = SyntaxKind;

struct Piece {
  K kind;
  std::string text;
};

// Many tokens of every cached and uncached shape: one byte, short, long (past the token
// cache), empty, and repeats of each, so that the pieces take megabytes of arena.
std::vector<Piece> many_pieces(size_t count) {
  std::vector<Piece> pieces;
  pieces.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    switch (i % 7) {
      case 0:
        pieces.push_back({K::Whitespace, " "});
        break;
      case 1:
        // Every other time a one-byte token of a kind that takes many bytes, some of them the
        // first byte of the next piece.
        if (i % 2 == 0) {
          pieces.push_back({K::Unknown, std::string(1, "$#%./0"[i / 14 % 6])});
        } else {
          pieces.push_back({K::Word, "w" + std::to_string(i)});
        }
        break;
      case 2:
        pieces.push_back(
            {K::Comment, "# a comment long enough to pass the cache " + std::to_string(i)});
        break;
      case 3:
        pieces.push_back({K::Word, "same"});
        break;
      case 4:
        pieces.push_back({K::Word, "same"});
        break;
      case 5:
        pieces.push_back({K::Word, ""});
        break;
      default:
        pieces.push_back({K::Newline, "\n"});
        break;
    }
  }
  return pieces;
}

struct GrowthCase {
  const char* name;
  size_t expected_tokens;  // the builder's sizing hint
  size_t tokens;
};

class GreenGrowth : public testing::TestWithParam<GrowthCase> {};

// Adds the pieces through the bulk form, in runs of 0 to 96 tokens, from one joined text.
void add_in_runs(GreenBuilder& builder, const std::vector<Piece>& pieces) {
  std::string source;
  std::vector<K> kinds;
  std::vector<uint32_t> starts;
  for (const Piece& piece : pieces) {
    kinds.push_back(piece.kind);
    starts.push_back(static_cast<uint32_t>(source.size()));
    source += piece.text;
  }
  starts.push_back(static_cast<uint32_t>(source.size()));
  uint32_t run = 0;
  for (uint32_t i = 0; i < pieces.size(); i += run, run = (run + 1) % 97) {
    const auto count = std::min<uint32_t>(run, static_cast<uint32_t>(pieces.size()) - i);
    builder.tokens(kinds.data() + i, starts.data() + i, source.data(), count);
  }
}

// A flat node over all pieces, built with the case's hint: the arena starts too small (so the
// buffer is regrown several times between the first child and the parent), right, or too
// large; the tokens are added one at a time, then in bulk. The second round of each builds
// after the first tree is dropped, in memory that may hold the first one's stale contents.
TEST_P(GreenGrowth, EveryChildReadsBackInOrder) {
  const GrowthCase& c = GetParam();
  const std::vector<Piece> pieces = many_pieces(c.tokens);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const bool bulk = round >= 2;
    GreenNodePtr root;
    {
      GreenBuilder builder(c.expected_tokens);
      builder.start_node(K::Document);
      if (bulk) {
        add_in_runs(builder, pieces);
      } else {
        for (const Piece& piece : pieces) builder.token(piece.kind, piece.text);
      }
      builder.finish_node();
      root = builder.finish();
    }
    ASSERT_EQ(root->kind(), K::Document);
    ASSERT_EQ(root->child_count(), pieces.size());
    uint64_t total = 0;
    for (uint32_t i = 0; i < root->child_count(); ++i) {
      const GreenElement child = root->child(i);
      ASSERT_TRUE(child.is_token()) << i;
      ASSERT_EQ(child.kind(), pieces[i].kind) << i;
      ASSERT_EQ(child.text_len(), pieces[i].text.size()) << i;
      ASSERT_EQ(child.as_token()->text(), pieces[i].text) << i;
      total += child.text_len();
    }
    EXPECT_EQ(root->text_len(), total);
    // One-byte tokens are shared for the whole build; a short token repeated next to itself
    // finds its own cache slot.
    EXPECT_EQ(root->child(0), root->child(static_cast<uint32_t>((pieces.size() - 1) / 7 * 7)));
    EXPECT_EQ(root->child(6), root->child(13));
    EXPECT_EQ(root->child(3), root->child(4));
  }
}

INSTANTIATE_TEST_SUITE_P(Hints, GreenGrowth,
                         testing::Values(GrowthCase{"NoHint", 0, 120000},
                                         GrowthCase{"HintFarTooSmall", 10, 120000},
                                         GrowthCase{"HintAboutRight", 120000, 120000},
                                         GrowthCase{"LargeTreeHintTooLarge", 1200000, 400000}),
                         [](const testing::TestParamInfo<GrowthCase>& info) {
                           return std::string(info.param.name);
                         });

// Identical small nodes are one object, and a parent links to nodes and tokens alike.
TEST(GreenStorage, SmallNodesAreSharedAmongMixedChildren) {
  GreenBuilder builder;
  builder.start_node(K::Document);
  for (int i = 0; i < 3000; ++i) {
    builder.start_node(K::Parameter);
    builder.token(K::Word, "x");
    builder.finish_node();
    builder.token(K::Comma, ",");
  }
  builder.finish_node();
  const GreenNodePtr root = builder.finish();
  ASSERT_EQ(root->child_count(), 6000u);
  const GreenElement first = root->child(0);
  ASSERT_TRUE(first.is_node());
  EXPECT_EQ(first.kind(), K::Parameter);
  EXPECT_EQ(first.as_node()->child(0).as_token()->text(), "x");
  for (uint32_t i = 0; i < root->child_count(); i += 2) {
    ASSERT_EQ(root->child(i), first) << i;
    ASSERT_TRUE(root->child(i + 1).is_token()) << i;
    ASSERT_EQ(root->child(i + 1).as_token()->text(), ",") << i;
  }
  EXPECT_EQ(root->text_len(), 6000u);
}

// A deep chain with tokens on both sides of every level, ending in a wide node: the red layer
// gives back the exact text and every token in order.
TEST(GreenStorage, DeepAndWideTreeRoundTripsThroughRedLayer) {
  constexpr int kDepth = 1500;
  constexpr int kWidth = 40000;
  std::string expected;
  std::vector<std::string> token_texts;
  GreenBuilder builder;
  builder.start_node(K::Document);
  for (int level = 0; level < kDepth; ++level) {
    builder.start_node(K::Task);
    const std::string open = "o" + std::to_string(level);
    builder.token(K::Word, open);
    expected += open;
    token_texts.push_back(open);
  }
  builder.start_node(K::ErrorItem);
  for (int i = 0; i < kWidth; ++i) {
    const std::string text = i % 2 ? "\n" : std::to_string(i);
    builder.token(i % 2 ? K::Newline : K::Word, text);
    expected += text;
    token_texts.push_back(text);
  }
  builder.finish_node();
  for (int level = kDepth - 1; level >= 0; --level) {
    const std::string close = "c" + std::to_string(level);
    builder.token(K::Word, close);
    expected += close;
    token_texts.push_back(close);
    builder.finish_node();
  }
  builder.finish_node();
  const SyntaxNode root = SyntaxNode::new_root(builder.finish());

  EXPECT_EQ(root.text(), expected);
  EXPECT_EQ(root.green().text_len(), expected.size());
  const std::vector<SyntaxToken> tokens = root.tokens();
  ASSERT_EQ(tokens.size(), token_texts.size());
  for (size_t i = 0; i < tokens.size(); ++i) ASSERT_EQ(tokens[i].text(), token_texts[i]) << i;
  EXPECT_EQ(root.descendants().size(), static_cast<size_t>(kDepth) + 2);
}

}  // namespace
}  // namespace quib

namespace quib {
namespace {

// Trees built apart and joined under one node read back as if built in one builder: the adopted
// children keep their order, texts and inner structure, whatever was built before them.
TEST(GreenStorage, AdoptedChildrenReadBackInOrder) {
  const auto build_part = [](int first, int count) {
    GreenBuilder builder;
    builder.start_node(SyntaxKind::Document);
    for (int i = first; i < first + count; ++i) {
      builder.start_node(SyntaxKind::Task);
      builder.token(SyntaxKind::Word, "task" + std::to_string(i));
      builder.token(SyntaxKind::Newline, "\n");
      builder.finish_node();
    }
    builder.finish_node();
    return builder.finish();
  };
  const GreenNodePtr first = build_part(0, 500);
  const GreenNodePtr second = build_part(500, 700);
  GreenBuilder joined_builder;
  joined_builder.start_node(SyntaxKind::Document);
  joined_builder.token(SyntaxKind::Comment, "# before");
  joined_builder.adopt_children(first);
  joined_builder.adopt_children(second);
  joined_builder.token(SyntaxKind::Newline, "\n");
  joined_builder.finish_node();
  const GreenNodePtr joined = joined_builder.finish();

  ASSERT_EQ(joined->child_count(), 1u + 500 + 700 + 1);
  EXPECT_EQ(joined->child(0).as_token()->text(), "# before");
  for (uint32_t i = 0; i < 1200; ++i) {
    const GreenNode* task = joined->child(i + 1).as_node();
    ASSERT_NE(task, nullptr) << i;
    ASSERT_EQ(task->child_count(), 2u) << i;
    ASSERT_EQ(task->child(0).as_token()->text(), "task" + std::to_string(i)) << i;
    ASSERT_EQ(task->child(1).as_token()->text(), "\n") << i;
  }
  EXPECT_EQ(joined->child(1201).as_token()->text(), "\n");
  EXPECT_EQ(joined->text_len(), first->text_len() + second->text_len() + 9);
}

// An arena lends the tail of its buffer; the borrower builds there while the lender keeps
// below it, and taking the borrower in moves its bytes down next to the lender's. Either side
// that outgrows its part leaves for a buffer of its own and the other keeps its part.
TEST(GreenStorage, LentTailIsTakenInWhereverEitherSideGrew) {
  struct Case {
    const char* name;
    size_t lender_bytes;    // written by the lender after lending
    size_t borrower_bytes;  // written by the borrower
    bool borrower_in_place;
  };
  constexpr size_t kCapacity = 4096;
  constexpr size_t kLent = 1024;
  for (const Case c : {Case{"BothFit", 2000, 1000, true}, Case{"BorrowerGrows", 2000, 3000, false},
                       Case{"LenderGrows", 5000, 1000, true}, Case{"BothGrow", 5000, 3000, false},
                       Case{"NothingWritten", 0, 0, true}}) {
    SCOPED_TRACE(c.name);
    GreenArena lender;
    lender.reserve(kCapacity);
    const uint32_t first = lender.allocate(8);
    std::memset(lender.at(first), 'a', 8);
    GreenArena borrower;
    lender.lend_tail(kLent, borrower);
    const char* const shared = lender.data();
    ASSERT_EQ(borrower.data(), shared + kCapacity - kLent);
    // The two sides write different bytes, as the two threads of a parse do.
    for (size_t i = 0; i < c.borrower_bytes; i += 4) {
      std::memset(borrower.at(borrower.allocate(4)), 'b' + static_cast<int>(i / 4 % 20), 4);
    }
    for (size_t i = 0; i < c.lender_bytes; i += 4) {
      std::memset(lender.at(lender.allocate(4)), 'c', 4);
    }
    EXPECT_EQ(borrower.data() == shared + kCapacity - kLent, c.borrower_in_place);
    const std::string borrowed(borrower.data(), borrower.size());
    const size_t lender_size = lender.size();
    const uint32_t base = lender.take_in(borrower);
    EXPECT_EQ(base, lender_size);
    EXPECT_EQ(std::string(lender.data(), 8), std::string(8, 'a'));
    EXPECT_EQ(std::string(lender.data() + base, borrowed.size()), borrowed);
    EXPECT_EQ(lender.size(), lender_size + borrowed.size());
    lender.seal();
  }
}

// Trees built in a lent tail join their lender's tree as adopted children, in place or not,
// and a borrower's tree that is never adopted leaves the lender's tree whole.
TEST(GreenStorage, TreesBuiltInALentTailReadBackAfterAdoption) {
  const auto add_tasks = [](GreenBuilder& builder, int first, int count) {
    for (int i = first; i < first + count; ++i) {
      builder.start_node(SyntaxKind::Task);
      builder.token(SyntaxKind::Word, "task" + std::to_string(i));
      builder.token(SyntaxKind::Newline, "\n");
      builder.finish_node();
    }
  };
  struct Case {
    size_t lender_tokens;
    size_t borrower_tokens;
    bool adopt;
  };
  for (const Case c : {Case{4000, 2000, true}, Case{4000, 10, true}, Case{500, 400, true},
                       Case{10, 10, true}, Case{4000, 2000, false}}) {
    SCOPED_TRACE(std::to_string(c.lender_tokens) + " " + std::to_string(c.borrower_tokens));
    GreenBuilder lender(c.lender_tokens);
    lender.start_node(SyntaxKind::Document);
    GreenNodePtr second;
    {
      GreenBuilder borrower(lender, c.borrower_tokens);
      borrower.start_node(SyntaxKind::Document);
      add_tasks(borrower, 500, 700);
      borrower.finish_node();
      second = borrower.finish();
    }
    add_tasks(lender, 0, 500);
    const int total = c.adopt ? 1200 : 500;
    if (c.adopt) lender.adopt_children(std::move(second));
    second = GreenNodePtr();
    lender.finish_node();
    const GreenNodePtr joined = lender.finish();
    ASSERT_EQ(joined->child_count(), static_cast<uint32_t>(total));
    for (int i = 0; i < total; ++i) {
      const GreenNode* task = joined->child(static_cast<uint32_t>(i)).as_node();
      ASSERT_NE(task, nullptr) << i;
      ASSERT_EQ(task->child(0).as_token()->text(), "task" + std::to_string(i)) << i;
    }
  }
}

// Where a node is cut at a share of its text: before the first child that starts at or past
// that share (children of 10, 20 and 30 bytes, 60 in all), at the end past the last one.
TEST(GreenWalk, CutsBeforeTheFirstChildFromAShareOfTheText) {
  GreenBuilder builder;
  builder.start_node(K::Document);
  for (const char* text :
       {"aaaaaaaaaa", "bbbbbbbbbbbbbbbbbbbb", "cccccccccccccccccccccccccccccc"}) {
    builder.token(K::Word, text);
  }
  builder.finish_node();
  const GreenNodePtr root = builder.finish();
  struct Case {
    double share;
    uint32_t index;
    uint32_t offset;
  };
  for (const Case& c : {Case{0.0, 0, 0}, Case{0.1, 1, 10}, Case{0.2, 2, 30}, Case{0.5, 2, 30},
                        Case{0.51, 2, 30}, Case{0.6, 3, 60}, Case{1.0, 3, 60}}) {
    const ChildCut cut = cut_at_share(*root.get(), c.share);
    EXPECT_EQ(cut.index, c.index) << c.share;
    EXPECT_EQ(cut.offset, c.offset) << c.share;
    EXPECT_DOUBLE_EQ(share_before(*root.get(), cut), c.offset / 60.0) << c.share;
  }
}

}  // namespace
}  // namespace quib
