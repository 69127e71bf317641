// The transport-only server that the end-to-end bench compares against: the real transport,
// JSON and params decoding, handlers that store text and answer empty. Never installed.
#include <unistd.h>

#include <csignal>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lsp/client.h"
#include "lsp/large_buffers.h"
#include "lsp/outline.h"
#include "lsp/protocol_types.h"
#include "lsp/transport.h"
#include "lsp/transport_router.h"

namespace quib::lsp {
namespace {

// Pays what every server pays on the wire and nothing more: each notification's text is
// decoded and stored as the real server stores it, each change publishes an empty list, and
// each request decodes its params and answers the empty form of its result.
class FloorServer {
 public:
  explicit FloorServer(ClientHandle client) : client_(client) {}

  MethodTable methods() {
    MethodTable table;
    Router<FloorServer> router(*this, table);
    router.on_request("initialize", &FloorServer::on_initialize);
    router.on_request("shutdown", &FloorServer::on_shutdown);
    router.on_notification("textDocument/didOpen", &FloorServer::on_did_open);
    router.on_notification("textDocument/didChange", &FloorServer::on_did_change);
    router.on_notification("textDocument/didClose", &FloorServer::on_did_close);
    router.on_request("textDocument/hover", &FloorServer::on_hover);
    router.on_request("textDocument/completion", &FloorServer::on_completion);
    router.on_request("textDocument/documentSymbol", &FloorServer::on_document_symbol);
    router.on_request("textDocument/foldingRange", &FloorServer::on_folding_range);
    router.on_request("textDocument/formatting", &FloorServer::on_formatting);
    router.on_request("textDocument/semanticTokens/full", &FloorServer::on_semantic_tokens);
    return table;
  }

 private:
  InitializeResult on_initialize(const InitializeParams&) { return {}; }
  std::nullptr_t on_shutdown(const NoParams&) { return nullptr; }

  void on_did_open(DidOpenTextDocumentParams&& params) {
    store(params.textDocument.uri, std::move(params.textDocument.text));
    publish(params.textDocument.uri, params.textDocument.version);
  }
  void on_did_change(DidChangeTextDocumentParams&& params) {
    if (!params.contentChanges.empty()) {
      store(params.textDocument.uri, std::move(params.contentChanges.back().text));
    }
    publish(params.textDocument.uri, params.textDocument.version);
  }
  void on_did_close(const DidCloseTextDocumentParams& params) {
    std::string closed;
    {
      std::lock_guard lock(mutex_);
      if (auto found = texts_.find(params.textDocument.uri); found != texts_.end()) {
        closed = std::move(found->second);
        texts_.erase(found);
      }
    }
    large_buffers().give(std::move(closed));
    publish(params.textDocument.uri, std::nullopt);
  }

  std::optional<Hover> on_hover(const HoverParams&) { return std::nullopt; }
  std::optional<std::vector<CompletionItem>> on_completion(const CompletionParams&) {
    return std::vector<CompletionItem>{};
  }
  DocumentSymbols on_document_symbol(const DocumentSymbolParams&) { return {}; }
  std::vector<FoldingRange> on_folding_range(const FoldingRangeParams&) { return {}; }
  std::optional<std::vector<TextEdit>> on_formatting(const DocumentFormattingParams&) {
    return std::vector<TextEdit>{};
  }
  SemanticTokens on_semantic_tokens(const SemanticTokensParams&) { return {}; }

  // As the server does, a replaced text's storage serves the next large message.
  void store(const std::string& uri, std::string text) {
    {
      std::lock_guard lock(mutex_);
      texts_[uri].swap(text);
    }
    large_buffers().give(std::move(text));
  }
  void publish(const std::string& uri, std::optional<int32_t> version) {
    client_.publish_diagnostics(PublishDiagnosticsParams{uri, {}, version});
  }

  ClientHandle client_;
  std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> texts_;
};

}  // namespace
}  // namespace quib::lsp

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  quib::lsp::FdByteSource in(STDIN_FILENO);
  quib::lsp::FdByteSink out(STDOUT_FILENO);
  quib::lsp::Transport transport(in, out);
  quib::lsp::FloorServer server(quib::lsp::ClientHandle(transport.outbox()));
  transport.serve(server.methods());
  return 0;
}
