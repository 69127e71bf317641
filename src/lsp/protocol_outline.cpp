// The structure requests: document symbols, folding ranges and semantic tokens. An unknown
// document gets an empty list (symbols, folding) or null (tokens), never an error.
#include "lsp/outline.h"
#include "lsp/protocol.h"
#include "lsp/semantic_tokens.h"

namespace quib::lsp {

DocumentSymbols LanguageServer::on_document_symbol(const DocumentSymbolParams& params) {
  return DocumentSymbols{documents_.analyze_document(params.textDocument.uri)};
}

std::vector<FoldingRange> LanguageServer::on_folding_range(const FoldingRangeParams& params) {
  auto snapshot = documents_.analyze_document(params.textDocument.uri);
  if (!snapshot) return {};
  return folding_ranges(*snapshot);
}

JsonText LanguageServer::on_semantic_tokens_full(const SemanticTokensParams& params) {
  auto snapshot = documents_.analyze_document(params.textDocument.uri);
  if (!snapshot) return JsonText{"null"};
  return JsonText{semantic_tokens_json(*snapshot)};
}

}  // namespace quib::lsp
