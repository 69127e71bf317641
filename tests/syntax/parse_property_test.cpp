// Whole-tree guarantees of the parser on generated inputs: lossless, flat items under the
// Document, no Eof in the tree, diagnostics in document order, the item scan agreeing with the
// tree; and no blow-up on junk.
#include <gtest/gtest.h>

#include "support/fragments.h"
#include "syntax/ast_view.h"
#include "syntax/parse.h"
#include "syntax/tree_dump.h"

namespace quib {
namespace {

using testing_support::Draw;

constexpr KindSet kItemKinds{SyntaxKind::Directive, SyntaxKind::Metadata, SyntaxKind::GroupLine,
                             SyntaxKind::Task, SyntaxKind::ErrorItem};

// The node kind a scanned item becomes in the tree.
SyntaxKind node_kind(const ScannedItem& item) {
  if (!item.well_formed) return SyntaxKind::ErrorItem;
  switch (item.item_class) {
    case ItemClass::Directive:
      return SyntaxKind::Directive;
    case ItemClass::Metadata:
      return SyntaxKind::Metadata;
    case ItemClass::GroupOpen:
    case ItemClass::GroupClose:
      return SyntaxKind::GroupLine;
    case ItemClass::Task:
      return SyntaxKind::Task;
    case ItemClass::Stray:
      break;
  }
  return SyntaxKind::ErrorItem;
}

// The items of `text` as one scan from its start reports them.
std::vector<ScannedItem> scan_all(std::string_view text, ScanStart start = {}) {
  std::vector<ScannedItem> scan;
  scan_items(
      text, "",
      [&](const ScannedItem& item) {
        scan.push_back(item);
        return true;
      },
      16, start);
  return scan;
}

// A scan that starts at a line where an item begins after nothing but blanks, in the group
// state there, finds the items of the whole scan from that one on; a scan told to stop gets no
// further item.
void check_scan_from_line_starts(const std::string& text) {
  const std::vector<ScannedItem> items = scan_all(text);
  bool inside_group = false;
  for (size_t first = 0; first < items.size(); ++first) {
    uint32_t start = items[first].range.start;
    while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
    if (start == 0 || text[start - 1] == '\n') {
      SCOPED_TRACE(testing::Message() << "scan from item " << first);
      const std::vector<ScannedItem> rest = scan_all(text, ScanStart{start, inside_group});
      ASSERT_EQ(rest.size(), items.size() - first);
      for (size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(rest[i].item_class, items[first + i].item_class);
        EXPECT_EQ(rest[i].well_formed, items[first + i].well_formed);
        EXPECT_EQ(rest[i].range, items[first + i].range);
        EXPECT_EQ(rest[i].first_word, items[first + i].first_word);
      }
    }
    if (items[first].well_formed && items[first].item_class == ItemClass::GroupOpen) {
      inside_group = true;
    }
    if (items[first].well_formed && items[first].item_class == ItemClass::GroupClose) {
      inside_group = false;
    }
  }
  size_t visited = 0;
  scan_items(
      text, "", [&](const ScannedItem&) { return ++visited < 2; }, 1);
  EXPECT_EQ(visited, std::min<size_t>(items.size(), 2));
}

// The scan finds exactly the tree's items (same kinds, ranges and order, a task's name as its
// first word) wherever the text is split in two and however small its windows are.
void check_scan_matches(const std::string& text, const SyntaxNode& root) {
  const std::vector<SyntaxNode> items = root.children();
  const std::vector<size_t> splits = {0, text.size() / 3, text.size()};
  for (const size_t split : splits) {
    for (const size_t window : {size_t{1}, size_t{7}, size_t{64}, size_t{64 * 1024}}) {
      SCOPED_TRACE(testing::Message() << "split " << split << " window " << window);
      std::vector<ScannedItem> scan;
      scan_items(
          std::string_view(text).substr(0, split), std::string_view(text).substr(split),
          [&](const ScannedItem& item) {
            scan.push_back(item);
            return true;
          },
          window);
      ASSERT_EQ(scan.size(), items.size());
      for (size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(node_kind(scan[i]), items[i].kind()) << "item " << i;
        ASSERT_EQ(scan[i].range, items[i].text_range()) << "item " << i;
        if (const std::optional<Task> task = Task::cast(items[i])) {
          ASSERT_TRUE(scan[i].first_word.has_value());
          ASSERT_EQ(*scan[i].first_word, *task->name_range()) << "item " << i;
        }
      }
    }
  }
}

void check_tree(const std::string& text) {
  ParseResult result = parse(text);
  ASSERT_EQ(result.root.kind(), SyntaxKind::Document);
  ASSERT_EQ(result.root.text(), text);
  ASSERT_EQ(result.root.text_range(), TextRange(0, static_cast<uint32_t>(text.size())));

  for (const SyntaxElement& child : result.root.children_with_tokens()) {
    if (const SyntaxNode* node = child.as_node()) {
      ASSERT_TRUE(kItemKinds.contains(node->kind())) << kind_name(node->kind());
      for (const SyntaxNode& inner : node->descendants()) {
        ASSERT_FALSE(kItemKinds.contains(inner.kind()) && !(inner == *node))
            << "items must not nest";
      }
    } else {
      ASSERT_TRUE(kTriviaKinds.contains(child.kind())) << kind_name(child.kind());
    }
  }
  uint32_t expected_offset = 0;
  for (const SyntaxToken& token : result.root.tokens()) {
    ASSERT_NE(token.kind(), SyntaxKind::Eof);
    ASSERT_EQ(token.text_range().start, expected_offset);
    expected_offset = token.text_range().end;
  }
  for (size_t i = 1; i < result.diagnostics.size(); ++i) {
    ASSERT_LT(result.diagnostics[i - 1].range.start, result.diagnostics[i].range.start);
  }
  for (const Diagnostic& d : result.diagnostics) {
    ASSERT_GE(d.range.len(), 1u);
    ASSERT_LE(d.range.end, std::max<uint32_t>(1, text.size()) + 1);
  }
  check_scan_matches(text, result.root);
  check_scan_from_line_starts(text);
}

TEST(ParseProperty, FragmentMixes) {
  Draw draw(7);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = testing_support::random_document(draw, 1 + draw.below(20));
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(text));
    check_tree(text);
  }
}

TEST(ParseProperty, RandomCharacters) {
  Draw draw(11);
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    const uint32_t count = draw.below(60);
    for (uint32_t j = 0; j < count; ++j) testing_support::append_random_char(text, draw);
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(text));
    check_tree(text);
  }
}

// Linear behaviour on pathological input is shown by the benchmarks; these only prove that
// such input finishes and keeps every byte.
TEST(ParseProperty, LongJunkLineAndManyStrayTokens) {
  std::string junk_line(1 << 20, '$');
  junk_line.insert(0, "build ");
  ParseResult line = parse(junk_line);
  EXPECT_EQ(line.root.text().size(), junk_line.size());
  EXPECT_EQ(line.diagnostics.size(), 1u);

  std::string strays;
  for (int i = 0; i < 100000; ++i) strays += ") ";
  ParseResult many = parse(strays);
  EXPECT_EQ(many.diagnostics.size(), 100000u);
  EXPECT_EQ(many.root.children().size(), 100000u);
  // The same line parsed a window at a time: a window is settled once per line, not per item.
  strays += "\n";
  ParseResult windowed = parse_tree(std::make_shared<const std::string>(strays));
  EXPECT_EQ(windowed.diagnostics.size(), 100000u);
}

}  // namespace
}  // namespace quib

namespace quib {
namespace {

// Windows of the default size: many windows, groups open across window edges, and one task
// body much longer than a window.
TEST(ParseProperty, ScanOfALargeTextMatchesTheTree) {
  std::string text = "!version 0.1\n";
  for (int i = 0; i < 3000; ++i) {
    if (i % 100 == 0) text += "group g" + std::to_string(i) + " {\n";
    text += "[help] task " + std::to_string(i) + "\n";
    text += "    t" + std::to_string(i) + "(a, b=\"x\") & t0:\n        echo {{ a }}\n";
    if (i % 100 == 99) text += "}\n";
  }
  text += "long:\n";
  for (int i = 0; i < 20000; ++i) text += "    | echo line " + std::to_string(i) + "\n";
  text += "after: \n    echo done\n";
  ASSERT_GT(text.size(), 4u * 64 * 1024);
  const ParseResult whole = parse(text);
  check_scan_matches(text, whole.root);
  // The tree as a snapshot parses it: in two parts, a window of tokens at a time.
  const ParseResult parts = parse_tree(std::make_shared<const std::string>(text));
  EXPECT_EQ(dump_tree(parts.root, parts.diagnostics), dump_tree(whole.root, whole.diagnostics));
}

}  // namespace
}  // namespace quib

namespace quib {
namespace {

// Parsing in two parts, a window of tokens at a time, gives the tree and diagnostics of one
// whole parse, wherever the cut falls, whichever group state is guessed for it (a cut inside an
// item or a wrong guess falls back) and however small the windows are.
TEST(ParseProperty, TwoPartParseMatchesOnePart) {
  Draw draw(23);
  for (int i = 0; i < 150; ++i) {
    const std::string text = testing_support::random_document(draw, 1 + draw.below(12));
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(text));
    const ParseResult whole = parse(text);
    const std::string expected = dump_tree(whole.root, whole.diagnostics);
    const auto shared = std::make_shared<const std::string>(text);
    for (uint32_t cut = 0; cut <= text.size(); ++cut) {
      if (cut != 0 && text[cut - 1] != '\n') continue;
      for (const bool inside_group : {false, true}) {
        for (const uint32_t window : {1u, 16u, 64u * 1024}) {
          const ParseResult parts = parse_tree(shared, SplitPoint{cut, inside_group}, window);
          ASSERT_EQ(dump_tree(parts.root, parts.diagnostics), expected)
              << "cut " << cut << " inside_group " << inside_group << " window " << window;
          ASSERT_EQ(parts.root.text_view(), std::string_view(text));
          ASSERT_EQ(parts.tokens.size(), 0u);
        }
      }
    }
  }
}

}  // namespace
}  // namespace quib

namespace quib {
namespace {

// A job handed to the parse runs exactly once, whether the text is parsed in one part or in
// two, and wherever its cost moves the cut; the tree is the one of a whole parse.
TEST(ParseProperty, HelperJobRunsOnceAndLeavesTheTreeAlone) {
  std::string large;
  for (int i = 0; large.size() < 512 * 1024; ++i) {
    if (i % 50 == 0) large += "group g" + std::to_string(i) + " {\n";
    large += "t" + std::to_string(i) + "(a):\n    echo {{ a }}\n\n";
    if (i % 50 == 49) large += "}\n\n";
  }
  for (const std::string& text : {std::string("a:\n    echo 1\n"), large}) {
    const ParseResult whole = parse(text);
    const std::string expected = dump_tree(whole.root, whole.diagnostics);
    for (const size_t cost : {size_t{0}, text.size() / 4, text.size(), SIZE_MAX}) {
      SCOPED_TRACE(testing::Message() << "size " << text.size() << " cost " << cost);
      int runs = 0;
      const ParseResult parsed = parse_tree(
          std::make_shared<const std::string>(text), [&] { ++runs; }, cost);
      EXPECT_EQ(runs, 1);
      EXPECT_EQ(dump_tree(parsed.root, parsed.diagnostics), expected);
    }
  }
}

}  // namespace
}  // namespace quib

namespace quib {
namespace {

// What the parse from a prefix must never see: the bytes of the storage after those reported
// final, which here read as group lines and directives that would change the items around them.
std::string storage_with_unwritten_tail(const std::string& text, size_t final) {
  std::string storage = text;
  constexpr std::string_view kJunk = "}\n!v\ngroup j {\n";
  for (size_t i = final; i < storage.size(); ++i) storage[i] = kJunk[i % kJunk.size()];
  return storage;
}

// A parse that goes on from a prefix, parsed while only the first bytes were final, gives the
// tree and diagnostics of one whole parse wherever the written part ended, however small the
// windows are and however the final count grew, in one part or (for a large rest) in two.
TEST(ParseProperty, ParseFromAPrefixMatchesOnePart) {
  Draw draw(29);
  std::string large = "!version 0.1\n";
  for (int i = 0; large.size() < 600 * 1024; ++i) {
    if (i % 40 == 0) large += "group g" + std::to_string(i) + " {\n";
    large += "[help] t" + std::to_string(i) + "\n    t" + std::to_string(i) + "(a):\n";
    large += "        echo {{ a }}\n\n";
    if (i % 40 == 39) large += "}\n\n";
  }
  std::vector<std::string> texts = {large};
  for (int i = 0; i < 60; ++i) {
    texts.push_back(testing_support::random_document(draw, 1 + draw.below(12)));
  }
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(text.substr(0, 2000)));
    const ParseResult whole = parse(text);
    const std::string expected = dump_tree(whole.root, whole.diagnostics);
    const bool is_large = text.size() > 256 * 1024;
    const size_t steps = is_large ? 6 : 30;
    std::vector<size_t> finals = {0, text.size()};
    for (size_t at = 0; at < text.size(); at += std::max<size_t>(1, text.size() / steps)) {
      finals.push_back(at);
    }
    const std::vector<uint32_t> windows =
        is_large ? std::vector<uint32_t>{4096, 8192} : std::vector<uint32_t>{1, 16, 8192};
    for (const size_t final : finals) {
      for (const uint32_t window : windows) {
        const std::string storage = storage_with_unwritten_tail(text, final);
        // The count grows by a random step each time it is asked, up to `final`.
        size_t reported = 0;
        const auto final_bytes = [&](size_t wanted) {
          EXPECT_LE(wanted, storage.size());
          if (reported < wanted) reported = std::min(final, wanted + draw.below(3 * window));
          return reported;
        };
        ParsedPrefixPtr prefix = parse_prefix(storage, final_bytes, window);
        const ParseResult parsed =
            parse_tree(std::make_shared<const std::string>(text), {}, 0, std::move(prefix));
        ASSERT_EQ(dump_tree(parsed.root, parsed.diagnostics), expected)
            << "final " << final << " window " << window;
      }
    }
  }
}

}  // namespace
}  // namespace quib
