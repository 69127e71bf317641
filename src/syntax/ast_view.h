// The typed view over the syntax tree: thin wrappers, one per node kind, created only by a
// kind-checked cast, with accessors that read names, values and ranges from token texts.
// The view never reports diagnostics and never fails: missing parts give empty optionals or
// empty lists.
#pragma once

#include <optional>
#include <vector>

#include "syntax/syntax_node.h"

namespace quib {

// The root.
class Document {
 public:
  static std::optional<Document> cast(const SyntaxNode& node) {
    if (node.kind() != SyntaxKind::Document) return std::nullopt;
    return Document(node);
  }
  const SyntaxNode& syntax() const { return node_; }
  // The item nodes (Directive, Metadata, GroupLine, Task, ErrorItem) in document order.
  std::vector<SyntaxNode> items() const { return node_.children(); }

 private:
  explicit Document(SyntaxNode node) : node_(std::move(node)) {}
  SyntaxNode node_;
};

}  // namespace quib
