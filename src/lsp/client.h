// ClientHandle: the server's way to send notifications to the editor. It only queues; the
// transport's writer thread does the writing. The server sends no requests.
#pragma once

#include <string>

#include "lsp/protocol_types.h"
#include "lsp/transport.h"

namespace quib::lsp {

// Cheap to copy; safe to use from any thread. Each call returns once the message is queued.
// The outbox must outlive every copy.
class ClientHandle {
 public:
  explicit ClientHandle(Outbox& outbox) : outbox_(&outbox) {}

  void log_message(MessageType type, std::string message) const;
  void publish_diagnostics(const PublishDiagnosticsParams& params) const;

 private:
  Outbox* outbox_;
};

}  // namespace quib::lsp
