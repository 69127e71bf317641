// The LanguageServer's method table and its lifecycle handlers. No JSON here: params arrive decoded
// and results leave as protocol types.
#include "lsp/protocol.h"

#include <iterator>

namespace quib::lsp {

InitializeResult server_capabilities() {
  ServerCapabilities caps;
  caps.textDocumentSync = 1;  // full: every didChange carries the whole text
  caps.hoverProvider = true;
  caps.completionProvider = CompletionOptions{{"!", "@", "[", "&", "."}};
  caps.documentSymbolProvider = true;
  caps.documentFormattingProvider = true;
  caps.documentRangeFormattingProvider = true;
  caps.foldingRangeProvider = true;
  caps.semanticTokensProvider = SemanticTokensOptions{
      SemanticTokensLegend{{std::begin(kSemanticTokenTypes), std::end(kSemanticTokenTypes)}, {}},
      true};
  return InitializeResult{caps};
}

MethodTable LanguageServer::methods() {
  MethodTable table;
  Router<LanguageServer> router(*this, table);
  router.on_request("initialize", &LanguageServer::on_initialize);
  router.on_notification("initialized", &LanguageServer::on_initialized);
  router.on_request("shutdown", &LanguageServer::on_shutdown);

  router.on_notification("textDocument/didOpen", &LanguageServer::on_did_open);
  router.on_notification("textDocument/didChange", &LanguageServer::on_did_change);
  router.on_notification("textDocument/didClose", &LanguageServer::on_did_close);

  router.on_request("textDocument/hover", &LanguageServer::on_hover);
  router.on_request("textDocument/completion", &LanguageServer::on_completion);
  router.on_request("textDocument/documentSymbol", &LanguageServer::on_document_symbol);
  router.on_request("textDocument/foldingRange", &LanguageServer::on_folding_range);
  router.on_request("textDocument/formatting", &LanguageServer::on_formatting);
  router.on_request("textDocument/rangeFormatting", &LanguageServer::on_range_formatting);
  router.on_request("textDocument/semanticTokens/full", &LanguageServer::on_semantic_tokens_full);
  return table;
}

InitializeResult LanguageServer::on_initialize(const InitializeParams&) {
  return server_capabilities();
}

void LanguageServer::on_initialized(const NoParams&) {
  client_.log_message(MessageType::Info, "Quibfile language server initialized.");
}

std::nullptr_t LanguageServer::on_shutdown(const NoParams&) {
  return nullptr;
}

}  // namespace quib::lsp
