// LanguageServer: the Quibfile handlers and the one table that routes methods to them.
// Handlers are thin: decoding, lifecycle and threading are the transport's business.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "lsp/client.h"
#include "lsp/document_store.h"
#include "lsp/outline.h"
#include "lsp/protocol_types.h"
#include "lsp/transport_router.h"

namespace quib::lsp {

// The eleven semantic token types, in legend order: a token's type number is its index here.
inline constexpr const char* kSemanticTokenTypes[] = {
    "directive", "namespace", "task",     "parameter",   "guard",     "dependency",
    "shell",     "variable",  "metadata", "blockMarker", "delimiter",
};

// The fixed answer to `initialize`; nothing in it depends on the client.
InitializeResult server_capabilities();

// One per process. Request handlers may run on several worker threads at once; notification
// handlers run one at a time, in arrival order. Each handler looks the document up, calls a
// pure function of the snapshot, and converts the answer; the handlers are grouped by
// feature in the protocol_*.cpp files.
class LanguageServer {
 public:
  explicit LanguageServer(ClientHandle client) : client_(client) {}

  // Every method the server answers. Anything else is "Method not found" (requests) or
  // ignored (notifications).
  MethodTable methods();

 private:
  InitializeResult on_initialize(const InitializeParams& params);
  void on_initialized(const NoParams& params);
  std::nullptr_t on_shutdown(const NoParams& params);

  // Both take their params over, so the document text moves into the store uncopied.
  void on_did_open(DidOpenTextDocumentParams&& params);
  void on_did_change(DidChangeTextDocumentParams&& params);
  void on_did_close(const DidCloseTextDocumentParams& params);
  // Analyses the stored text and sends its diagnostics; an empty list when it is not stored.
  void publish_diagnostics(const std::string& uri, std::optional<int32_t> version);

  std::optional<Hover> on_hover(const HoverParams& params);
  std::optional<std::vector<CompletionItem>> on_completion(const CompletionParams& params);
  DocumentSymbols on_document_symbol(const DocumentSymbolParams& params);
  std::vector<FoldingRange> on_folding_range(const FoldingRangeParams& params);
  // Written here rather than by the router: the formatted document is escaped in its own buffer.
  JsonText on_formatting(const DocumentFormattingParams& params);
  std::optional<std::vector<TextEdit>> on_range_formatting(
      const DocumentRangeFormattingParams& params);
  JsonText on_semantic_tokens_full(const SemanticTokensParams& params);

  ClientHandle client_;
  DocumentStore documents_;
};

}  // namespace quib::lsp
