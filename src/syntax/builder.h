// Turns one classified item into tree nodes: the node shape of directives, metadata lines,
// group lines, tasks (header clauses, parameter list, body marker) and error items.
// It decides nothing about validity; the item rules in parse.cpp have already done that.
#pragma once

#include <cstdint>
#include <span>

#include "syntax/green.h"
#include "syntax/token_list.h"

namespace quib {

enum class ItemClass : uint8_t { Directive, Metadata, GroupOpen, GroupClose, Task, Stray };

// The result of classifying one item.
// Invariant: count >= 1; for a valid task, header_end is the index (relative to the item's
// first token) one past the last header token.
struct ClassifiedItem {
  ItemClass item_class;
  bool malformed = false;
  bool missing_colon = false;
  uint32_t count = 0;
  uint32_t header_end = 0;
  bool has_body_marker = false;  // the header's last token is its accepted colon
};

// The tokens [first, first + count) of a token list.
struct ItemTokens {
  const TokenList& list;
  uint32_t first;
  uint32_t count;

  SyntaxKind kind(uint32_t i) const { return list.kind(first + i); }
  std::string_view text(uint32_t i) const { return list.text(first + i); }
  ItemTokens subspan(uint32_t from, uint32_t n) const { return {list, first + from, n}; }
};

// Adds the item's node to the builder, whose innermost open node is the Document.
void build_item(GreenBuilder& builder, ItemTokens item, const ClassifiedItem& info);

}  // namespace quib
