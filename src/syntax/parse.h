// The parser entry: text in, lossless tree plus parse diagnostics out. Never fails: malformed
// text is kept whole in ErrorItem nodes with one diagnostic each.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

ParseResult parse(std::string_view text);
// The same, sharing an existing text instead of copying it.
ParseResult parse(std::shared_ptr<const std::string> text);

}  // namespace quib
