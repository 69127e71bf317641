// Walks over green nodes that compute absolute offsets on the way, for readers that want
// positions without making red handles (the typed view, the formatter, lowering).
#pragma once

#include <cstdint>

#include "syntax/green.h"
#include "syntax/text_range.h"

namespace quib {

// A green node with the document offset of its first byte.
struct GreenAt {
  const GreenNode* node;
  uint32_t offset;

  TextRange range() const { return TextRange(offset, offset + node->text_len()); }
};

// Calls `visit(child, offset)` for every direct child of `node`, which starts at `offset`.
template <typename Visit>
void for_each_child(const GreenNode& node, uint32_t offset, Visit&& visit) {
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const GreenElement child = node.child(i);
    visit(child, offset);
    offset += child.text_len();
  }
}

// A place between two children of a node: the index of the child after it (the child count
// at the end) and its offset from the node's start.
struct ChildCut {
  uint32_t index;
  uint32_t offset;
};

// Before the child at `index`, or at the end when there is no such child.
inline ChildCut cut_before(const GreenNode& node, uint32_t index) {
  ChildCut cut{0, 0};
  for (; cut.index < index && cut.index < node.child_count(); ++cut.index) {
    cut.offset += node.child(cut.index).text_len();
  }
  return cut;
}

// Before the first child of `node` that starts at or after `share` of its text, or at the end
// when there is none: where a large document is cut to be worked on in two parts.
inline ChildCut cut_at_share(const GreenNode& node, double share) {
  const auto at = static_cast<uint32_t>(static_cast<double>(node.text_len()) * share);
  ChildCut cut{0, 0};
  for (; cut.index < node.child_count() && cut.offset < at; ++cut.index) {
    cut.offset += node.child(cut.index).text_len();
  }
  return cut;
}

// The share of `node`'s text before `cut`.
inline double share_before(const GreenNode& node, ChildCut cut) {
  return node.text_len() == 0
             ? 1.0
             : static_cast<double>(cut.offset) / static_cast<double>(node.text_len());
}

// Calls `visit(token, offset)` for every token of the subtree, in document order. Trees are at
// most a few levels deep.
template <typename Visit>
void for_each_token(const GreenNode& node, uint32_t offset, Visit&& visit) {
  for_each_child(node, offset, [&](const GreenElement& child, uint32_t at) {
    if (const GreenToken* token = child.as_token()) {
      visit(*token, at);
    } else {
      for_each_token(*child.as_node(), at, visit);
    }
  });
}

}  // namespace quib
