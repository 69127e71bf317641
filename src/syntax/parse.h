// The parser entry: text in, lossless tree plus parse diagnostics out. Never fails: malformed
// text is kept whole in ErrorItem nodes with one diagnostic each.
#pragma once

#include <string_view>
#include <vector>

#include "syntax/diagnostic.h"
#include "syntax/syntax_node.h"
#include "syntax/token.h"

namespace quib {

class Document;

struct ParseResult {
  // The full token list, Eof included.
  std::vector<Token> tokens;
  // In document order, one per malformed item.
  std::vector<Diagnostic> diagnostics;
  // Invariant: a Document node whose token texts concatenate to the parsed text.
  SyntaxNode root;

  // The root as the typed Document view.
  Document document() const;
};

ParseResult parse(std::string_view text);

}  // namespace quib
