// The parser entry: text in, lossless tree plus parse diagnostics out. Never fails: malformed
// text is kept whole in ErrorItem nodes with one diagnostic each.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/builder.h"
#include "syntax/diagnostic.h"
#include "syntax/syntax_node.h"
#include "syntax/token_list.h"

namespace quib {

class Document;

struct ParseResult {
  // The full token list, Eof included, in compact form.
  TokenList tokens;
  // In document order, one per malformed item.
  std::vector<Diagnostic> diagnostics;
  // Invariant: a Document node whose token texts concatenate to the parsed text.
  SyntaxNode root;

  // The root as the typed Document view.
  Document document() const;
};

// One top-level item as the parser classifies it: the tokens [first, first + count) of its
// scan's token list. In a parse a well-formed item becomes a Directive, Metadata, GroupLine or
// Task node, any other an ErrorItem.
struct ScannedItem {
  ItemClass item_class;
  bool well_formed;
  uint32_t first;
  uint32_t count;
};

// The token list and items of one text, without a tree.
struct ItemScan {
  TokenList tokens;
  std::vector<ScannedItem> items;  // document order
};

ParseResult parse(std::string_view text);
// The same, sharing an existing text instead of copying it.
ParseResult parse(std::shared_ptr<const std::string> text);

// The items `parse` would build from `text`, classified alike, without building the tree or
// reporting anything: for readers that need only the top-level items and their tokens, at a
// fraction of a parse's time and memory.
ItemScan scan_items(std::shared_ptr<const std::string> text);

}  // namespace quib
