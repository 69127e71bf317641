// The structure requests: document symbols, folding ranges and semantic tokens.
#include "lsp/protocol.h"

namespace quib::lsp {

// FIXME(outline): answers empty until the outline features are wired in.
std::vector<SymbolInformation> LanguageServer::on_document_symbol(const DocumentSymbolParams&) {
  return {};
}

std::vector<FoldingRange> LanguageServer::on_folding_range(const FoldingRangeParams&) {
  return {};
}

std::optional<SemanticTokens> LanguageServer::on_semantic_tokens_full(const SemanticTokensParams&) {
  return std::nullopt;
}

}  // namespace quib::lsp
