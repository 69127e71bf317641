// The structure requests: document symbols, folding ranges and semantic tokens. An unknown
// document gets an empty list (symbols, folding) or null (tokens), never an error.
#include "lsp/outline.h"
#include "lsp/protocol.h"
#include "lsp/semantic_tokens.h"

namespace quib::lsp {

Deferred<DocumentSymbols> LanguageServer::on_document_symbol(const DocumentSymbolParams& params) {
  return [snapshot = snapshot_of(params.textDocument)] { return DocumentSymbols{snapshot}; };
}

Deferred<std::vector<FoldingRange>> LanguageServer::on_folding_range(
    const FoldingRangeParams& params) {
  return [snapshot = snapshot_of(params.textDocument)]() -> std::vector<FoldingRange> {
    if (!snapshot) return {};
    return folding_ranges(*snapshot);
  };
}

Deferred<JsonText> LanguageServer::on_semantic_tokens_full(const SemanticTokensParams& params) {
  return [snapshot = snapshot_of(params.textDocument)] {
    if (!snapshot) return JsonText{"null"};
    return JsonText{semantic_tokens_json(*snapshot)};
  };
}

}  // namespace quib::lsp
