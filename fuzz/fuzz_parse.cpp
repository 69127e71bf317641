// Fuzzes the lexer and parser with a tree verifier: on any valid UTF-8 text the tree is
// lossless and tiles the text, items lie flat under the Document, Eof never enters the tree,
// the token list matches the tree, there is one diagnostic per ErrorItem, in document order,
// and the windowed item scan finds the tree's items wherever the text is split; the tree parsed
// in parts and windows, or on from a prefix parsed while the text was being written, is the same
// tree; the token list is the one the recogniser gives driven a token at a time.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "support/recognised_tokens.h"
#include "syntax/cursor.h"
#include "syntax/parse.h"
#include "syntax/tree_dump.h"

namespace quib::fuzz {
namespace {

constexpr KindSet kItemKinds{SyntaxKind::Directive, SyntaxKind::Metadata, SyntaxKind::GroupLine,
                             SyntaxKind::Task, SyntaxKind::ErrorItem};
constexpr KindSet kHeaderPartKinds{SyntaxKind::TaskName,      SyntaxKind::ParameterList,
                                   SyntaxKind::Guard,         SyntaxKind::Dependency,
                                   SyntaxKind::ShellOverride, SyntaxKind::BodyMarker};

bool is_parse_code(std::string_view code) {
  return code == "parse.malformed-directive" || code == "parse.malformed-namespace-header" ||
         code == "parse.malformed-task-header" || code == "parse.missing-task-colon" ||
         code == "parse.unexpected-token";
}

// The kind a node's parent must have, given the node's own kind.
bool parent_fits(SyntaxKind kind, SyntaxKind parent) {
  if (kItemKinds.contains(kind)) return parent == SyntaxKind::Document;
  if (kind == SyntaxKind::TaskHeader) return parent == SyntaxKind::Task;
  if (kHeaderPartKinds.contains(kind)) return parent == SyntaxKind::TaskHeader;
  if (kind == SyntaxKind::Parameter) return parent == SyntaxKind::ParameterList;
  return false;
}

// A parameter list runs from its `(` to the `)` that matches it, counting parentheses only; a
// list without one runs to the header's end, so it is the header's last child.
void check_parameter_list(const SyntaxNode& list) {
  const std::vector<SyntaxToken> tokens = list.tokens();
  uint32_t depth = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind() == SyntaxKind::LParen) ++depth;
    if (tokens[i].kind() == SyntaxKind::RParen && depth > 0 && --depth == 0) {
      FUZZ_CHECK(i + 1 == tokens.size(), "a parameter list ends at its matching parenthesis");
      return;
    }
  }
  FUZZ_CHECK(!list.next_sibling_or_token(), "an unclosed parameter list ends the header");
}

void verify(std::string_view text, const ParseResult& result) {
  const auto length = static_cast<uint32_t>(text.size());
  FUZZ_CHECK(result.root.kind() == SyntaxKind::Document, "the root is the Document");
  FUZZ_CHECK(result.root.text_range() == TextRange(0, length), "the root spans the text");

  // Walk every element: tokens tile the text and reproduce it, each node spans exactly its
  // children, and every node sits under the parent its kind allows.
  std::vector<SyntaxToken> tree_tokens;
  std::vector<SyntaxNode> error_items;
  uint32_t offset = 0;
  Preorder walk(result.root, /*with_tokens=*/true);
  while (auto step = walk.next()) {
    if (step->event == Preorder::Event::Token) {
      const SyntaxToken& token = *step->element.as_token();
      FUZZ_CHECK(is_token_kind(token.kind()), "a token has a token kind");
      FUZZ_CHECK(token.kind() != SyntaxKind::Eof, "Eof is never in the tree");
      FUZZ_CHECK(!token.text().empty(), "tree tokens are not empty");
      FUZZ_CHECK(token.text_range().start == offset, "tokens tile the text without gaps");
      FUZZ_CHECK(token.text_range().end <= length, "tokens stay inside the text");
      FUZZ_CHECK(text.substr(offset, token.text().size()) == token.text(),
                 "token texts reproduce the input");
      const SyntaxNode& parent = token.parent();
      if (parent.kind() == SyntaxKind::Document) {
        FUZZ_CHECK(kTriviaKinds.contains(token.kind()), "only trivia stands between items");
      }
      offset = token.text_range().end;
      tree_tokens.push_back(token);
      continue;
    }
    const SyntaxNode& node = *step->element.as_node();
    FUZZ_CHECK(is_node_kind(node.kind()), "a node has a node kind");
    if (step->event == Preorder::Event::Enter) {
      FUZZ_CHECK(node.text_range().start == offset, "a node starts at its first child");
      if (node.kind() != SyntaxKind::Document) {
        FUZZ_CHECK(node.child_count() > 0, "only the Document may be empty");
        FUZZ_CHECK(parent_fits(node.kind(), node.parent()->kind()), "node under a wrong parent");
      }
      if (node.kind() == SyntaxKind::ErrorItem) error_items.push_back(node);
      if (node.kind() == SyntaxKind::TaskHeader) {
        FUZZ_CHECK(node.index() == 0, "the header is the task's first child");
      }
      if (node.kind() == SyntaxKind::ParameterList) check_parameter_list(node);
      if (node.kind() == SyntaxKind::TaskName || node.kind() == SyntaxKind::BodyMarker) {
        FUZZ_CHECK(node.child_count() == 1, "a task name or body marker is one token");
      }
    } else {
      FUZZ_CHECK(node.text_range().end == offset, "a node ends at its last child");
    }
  }
  FUZZ_CHECK(offset == length, "the tokens cover the whole text");

  // The token list is the tree's tokens plus one Eof at the end.
  FUZZ_CHECK(result.tokens.size() == tree_tokens.size() + 1, "token list matches the tree");
  for (size_t i = 0; i < tree_tokens.size(); ++i) {
    FUZZ_CHECK(result.tokens.kind(i) == tree_tokens[i].kind(), "token list kinds match the tree");
    FUZZ_CHECK(result.tokens.range(i) == tree_tokens[i].text_range(),
               "token list ranges match the tree");
    FUZZ_CHECK(result.tokens.text(i) == tree_tokens[i].text(), "token list texts match the tree");
  }
  const size_t eof = tree_tokens.size();
  FUZZ_CHECK(result.tokens.kind(eof) == SyntaxKind::Eof, "the token list ends with Eof");
  FUZZ_CHECK(result.tokens.range(eof) == TextRange(length, length), "Eof sits at the end");

  // One diagnostic per ErrorItem, on the item's first token, in document order.
  FUZZ_CHECK(result.diagnostics.size() == error_items.size(), "one diagnostic per ErrorItem");
  for (size_t i = 0; i < error_items.size(); ++i) {
    const Diagnostic& diagnostic = result.diagnostics[i];
    FUZZ_CHECK(is_parse_code(diagnostic.code), "a parse diagnostic has a parse code");
    FUZZ_CHECK(diagnostic.range == error_items[i].first_token()->text_range(),
               "a diagnostic covers its item's first token");
    if (i > 0) {
      FUZZ_CHECK(result.diagnostics[i - 1].range.start < diagnostic.range.start,
                 "diagnostics are in document order");
    }
  }
}

// Two reports of one item agree.
bool same_item(const ScannedItem& a, const ScannedItem& b) {
  return a.item_class == b.item_class && a.well_formed == b.well_formed && a.range == b.range &&
         a.first_word == b.first_word;
}

// The scan of the text split at `split`, read in windows of `window` bytes, gives the tree's
// items: same kinds, same ranges, a task's name as its first word; and a scan that starts at
// the line of the first item after `split` that only blanks precede on its line, in the group
// state there, gives the rest.
void verify_scan(std::string_view text, const ParseResult& result, size_t split, size_t window) {
  std::vector<ScannedItem> scan;
  scan_items(
      text.substr(0, split), text.substr(split),
      [&](const ScannedItem& item) {
        scan.push_back(item);
        return true;
      },
      window);
  bool inside_group = false;
  for (size_t i = 0; i < scan.size(); ++i) {
    uint32_t start = scan[i].range.start;
    while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
    if (start >= split && (start == 0 || text[start - 1] == '\n')) {
      std::vector<ScannedItem> rest;
      scan_items(
          text, "",
          [&](const ScannedItem& item) {
            rest.push_back(item);
            return true;
          },
          window, ScanStart{start, inside_group});
      FUZZ_CHECK(rest.size() == scan.size() - i, "a scan from a line start finds the rest");
      for (size_t j = 0; j < rest.size(); ++j) {
        FUZZ_CHECK(same_item(scan[i + j], rest[j]), "a scan from a line start finds the rest");
      }
      break;
    }
    if (scan[i].well_formed && scan[i].item_class == ItemClass::GroupOpen) inside_group = true;
    if (scan[i].well_formed && scan[i].item_class == ItemClass::GroupClose) inside_group = false;
  }
  const std::vector<SyntaxNode> items = result.root.children();
  FUZZ_CHECK(scan.size() == items.size(), "the scan finds every item of the tree");
  for (size_t i = 0; i < items.size(); ++i) {
    const SyntaxKind kind = !scan[i].well_formed                         ? SyntaxKind::ErrorItem
                            : scan[i].item_class == ItemClass::Task      ? SyntaxKind::Task
                            : scan[i].item_class == ItemClass::Directive ? SyntaxKind::Directive
                            : scan[i].item_class == ItemClass::Metadata  ? SyntaxKind::Metadata
                                                                         : SyntaxKind::GroupLine;
    FUZZ_CHECK(kind == items[i].kind(), "a scanned item has its node's kind");
    FUZZ_CHECK(scan[i].range == items[i].text_range(), "a scanned item has its node's range");
    if (kind == SyntaxKind::Task) {
      const SyntaxToken name = *items[i].first_token();
      FUZZ_CHECK(scan[i].first_word == name.text_range(), "a task's first word is its name");
    }
  }
}

// The tree a snapshot parses (cut at the line start at or before `split`, with either group
// guess, in windows of `window` bytes) is the tree and diagnostics of the one whole parse.
void verify_parts(std::string_view text, const ParseResult& result, size_t split, size_t window) {
  while (split > 0 && text[split - 1] != '\n') --split;
  const auto shared = std::make_shared<const std::string>(text);
  const std::string expected = dump_tree(result.root, result.diagnostics);
  for (const bool inside_group : {false, true}) {
    const ParseResult parts =
        parse_tree(shared, SplitPoint{static_cast<uint32_t>(split), inside_group},
                   static_cast<uint32_t>(window));
    FUZZ_CHECK(dump_tree(parts.root, parts.diagnostics) == expected,
               "a tree parsed in parts and windows is the whole parse's tree");
  }
}

// The tree parsed on from a prefix, parsed while only the first `final` bytes were written (the
// rest of its storage still junk), is the whole parse's tree.
void verify_prefix(std::string_view text, const ParseResult& result, size_t final, size_t window) {
  std::string storage(text);
  for (size_t i = final; i < storage.size(); ++i) storage[i] = i % 3 == 0 ? '\n' : '}';
  ParsedPrefixPtr prefix = parse_prefix(
      storage, [&](size_t wanted) { return std::min(wanted + window, final); },
      static_cast<uint32_t>(window));
  const ParseResult parsed =
      parse_tree(std::make_shared<const std::string>(text), {}, 0, std::move(prefix));
  FUZZ_CHECK(
      dump_tree(parsed.root, parsed.diagnostics) == dump_tree(result.root, result.diagnostics),
      "a tree parsed on from a prefix is the whole parse's tree");
}

}  // namespace
}  // namespace quib::fuzz

namespace quib::fuzz {
namespace {

// The cursor finds most token starts 64 bytes at a time; it must agree with the recogniser
// wherever tokens meet the blocks.
void verify_tokens(std::string_view text) {
  const std::vector<Token> tokens = tokenize(text);
  const auto expected = testing_support::recognised_tokens(text, 0);
  FUZZ_CHECK(tokens.size() == expected.size() + 1, "one token per recognised token, then Eof");
  for (size_t i = 0; i < expected.size(); ++i) {
    FUZZ_CHECK(tokens[i].kind == expected[i].first && tokens[i].start == expected[i].second,
               "each token has the recognised kind and start");
  }
}

}  // namespace
}  // namespace quib::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!quib::fuzz::is_valid_utf8(text)) return -1;
  quib::fuzz::verify_tokens(text);
  const quib::ParseResult result = quib::parse(text);
  quib::fuzz::verify(text, result);
  // A split and a window size that vary with the input, small enough to cross window edges.
  const size_t split = size == 0 ? 0 : data[0] % (size + 1);
  const size_t window = 1 + (size == 0 ? 0 : data[size - 1] % 64);
  quib::fuzz::verify_scan(text, result, split, window);
  quib::fuzz::verify_parts(text, result, split, window);
  quib::fuzz::verify_prefix(text, result, split, window);
  return 0;
}
