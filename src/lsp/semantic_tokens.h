// Semantic highlighting: coloured spans collected from the syntax tree of one snapshot and
// encoded in the protocol's relative five-integer form, as a list or as the answer's JSON text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/document_store.h"
#include "lsp/position.h"
#include "syntax/syntax_node.h"

namespace quib::lsp {

// Indices into the announced legend (kSemanticTokenTypes); the order is the legend's.
enum class SemanticTokenType : uint8_t {
  Directive,
  Namespace,
  Task,
  Parameter,
  Guard,
  Dependency,
  Shell,
  Variable,
  Metadata,
  BlockMarker,
  Delimiter,
};

// One coloured span, in byte offsets of the document text (end exclusive).
struct RawSemanticToken {
  uint32_t start = 0;
  uint32_t end = 0;
  SemanticTokenType token_type = SemanticTokenType::Directive;
  bool operator==(const RawSemanticToken&) const = default;
};

// The spans of the whole tree, stably sorted by start: spans that start together keep the
// order in which they were collected (directives, group lines, tasks, metadata; within a task:
// name, parentheses, parameters, guards, dependencies, shell clause, body). Overlaps are kept.
// A node that lacks the expected parts contributes nothing, so broken documents still colour.
std::vector<RawSemanticToken> collect_semantic_tokens(const SyntaxNode& root,
                                                      std::string_view text);

// The `data` of `textDocument/semanticTokens/full` for one snapshot: five integers per span,
// line delta, start column (relative to the previous span's start on the same line), length in
// UTF-16 units, type, modifiers (always 0). Spans that cross a line break are dropped: the
// protocol's tokens live on one line, and such a span (a reference whose name runs over two
// block lines) has no meaningful length.
// A large document's spans are collected in two parts, on the calling and the helper thread.
std::vector<uint32_t> semantic_tokens(const DocumentSnapshot& snapshot);
// The same, with the second part starting at the root's child `cut` whatever the document's
// size (none when `cut` is the child count or more): for tests of the two-part path.
std::vector<uint32_t> semantic_tokens(const DocumentSnapshot& snapshot, uint32_t cut);

// The whole answer, `{"data":[...]}` with the integers of `semantic_tokens`, as JSON text
// written while the spans are encoded, into kept storage: no list of a large document's
// integers is built, which would be mapped afresh, page by page, on every request.
std::string semantic_tokens_json(const DocumentSnapshot& snapshot);
// The same, cut as `semantic_tokens(snapshot, cut)` is.
std::string semantic_tokens_json(const DocumentSnapshot& snapshot, uint32_t cut);

}  // namespace quib::lsp
