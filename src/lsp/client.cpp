// Typed outbound notifications over the transport's outbox.
#include "lsp/client.h"

namespace quib::lsp {

void ClientHandle::log_message(MessageType type, std::string message) const {
  outbox_->notify("window/logMessage",
                  json::value_from(LogMessageParams{type, std::move(message)}));
}

void ClientHandle::publish_diagnostics(const PublishDiagnosticsParams& params) const {
  outbox_->notify("textDocument/publishDiagnostics", json::value_from(params));
}

}  // namespace quib::lsp
