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
#include "lsp/transport_body.h"
#include "lsp/transport_router.h"
#include "syntax/parse_ahead.h"

namespace quib::lsp {

// The eleven semantic token types, in legend order: a token's type number is its index here.
inline constexpr const char* kSemanticTokenTypes[] = {
    "directive", "namespace", "task",     "parameter",   "guard",     "dependency",
    "shell",     "variable",  "metadata", "blockMarker", "delimiter",
};

// The fixed answer to `initialize`; nothing in it depends on the client.
InitializeResult server_capabilities();

// One per process. Notification handlers run one at a time, in arrival order. A document
// request's handler takes the document's snapshot on the serve loop, in message order, and
// returns the work that answers from it on a worker: a request answers from the text the
// messages before it left, even when a later change or close is handled before a worker is
// free. That work calls a pure function of the snapshot and converts the answer; the handlers
// are grouped by feature in the protocol_*.cpp files.
class LanguageServer {
 public:
  explicit LanguageServer(ClientHandle client) : client_(client) {}

  // Every method the server answers. Anything else is "Method not found" (requests) or
  // ignored (notifications).
  MethodTable methods();
  // Parses the first long string of each message (a document text) while it is decoded; the
  // analysis of an opened or changed text then goes on from that parse.
  LongStringWatcher& long_string_watcher() { return parse_ahead_watcher_; }

 private:
  // Hands the transport's decoding news on to `parse_ahead`.
  class ParseAheadWatcher final : public LongStringWatcher {
   public:
    explicit ParseAheadWatcher(ParseAhead& parse_ahead) : parse_ahead_(parse_ahead) {}
    void body_begins() override { parse_ahead_.forget(); }
    void string_begins(const std::string& storage) override { parse_ahead_.begin(storage); }
    void string_decoded(size_t bytes) override { parse_ahead_.advance(bytes); }
    void body_ends() override { parse_ahead_.end(); }
    void string_copied(const std::string& text) override { parse_ahead_.moved(text); }

   private:
    ParseAhead& parse_ahead_;
  };

  using Snapshot = std::shared_ptr<const DocumentSnapshot>;

  InitializeResult on_initialize(const InitializeParams& params);
  void on_initialized(const NoParams& params);
  std::nullptr_t on_shutdown(const NoParams& params);

  // Both take their params over, so the document text moves into the store uncopied.
  void on_did_open(DidOpenTextDocumentParams&& params);
  void on_did_change(DidChangeTextDocumentParams&& params);
  void on_did_close(const DidCloseTextDocumentParams& params);
  // Analyses the stored text and sends its diagnostics; an empty list when it is not stored.
  void publish_diagnostics(const std::string& uri, std::optional<int32_t> version);

  // The document's current snapshot; null when it is not open.
  Snapshot snapshot_of(const TextDocumentIdentifier& document) const {
    return documents_.analyze_document(document.uri);
  }

  // The requests take their snapshot on the serve loop, in message order, and their answers keep
  // it with copies of the few params they read: a capture that moved the params could be
  // initialised before the one that reads them, since the order of a lambda's members is not
  // fixed.
  Deferred<std::optional<Hover>> on_hover(const HoverParams& params);
  Deferred<std::optional<std::vector<CompletionItem>>> on_completion(
      const CompletionParams& params);
  Deferred<DocumentSymbols> on_document_symbol(const DocumentSymbolParams& params);
  Deferred<std::vector<FoldingRange>> on_folding_range(const FoldingRangeParams& params);
  // Written here rather than by the router: the formatted document is escaped in its own buffer.
  Deferred<JsonText> on_formatting(const DocumentFormattingParams& params);
  Deferred<std::optional<std::vector<TextEdit>>> on_range_formatting(
      const DocumentRangeFormattingParams& params);
  Deferred<JsonText> on_semantic_tokens_full(const SemanticTokensParams& params);

  ClientHandle client_;
  DocumentStore documents_;
  ParseAhead parse_ahead_;
  ParseAheadWatcher parse_ahead_watcher_{parse_ahead_};
};

}  // namespace quib::lsp
