// Typed outbound notifications over the transport's outbox.
#include "lsp/client.h"

namespace quib::lsp {

void ClientHandle::log_message(MessageType type, std::string message) const {
  outbox_->notify("window/logMessage",
                  JsonText{to_json_text(LogMessageParams{type, std::move(message)})});
}

void ClientHandle::publish_diagnostics(const PublishDiagnosticsParams& params) const {
  outbox_->notify("textDocument/publishDiagnostics", JsonText{to_json_text(params)});
}

}  // namespace quib::lsp
