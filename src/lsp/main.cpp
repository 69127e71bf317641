// Process entry: wires standard input and output to the transport and serves until `exit` or
// end of input. Reads no arguments, environment or configuration.
#include <unistd.h>

#include <csignal>

#include "lsp/protocol.h"
#include "lsp/transport.h"

int main() {
  // A write to an editor that has gone away must fail with EPIPE, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  quib::lsp::FdByteSource in(STDIN_FILENO);
  quib::lsp::FdByteSink out(STDOUT_FILENO);
  quib::lsp::Transport transport(in, out);
  quib::lsp::LanguageServer server(quib::lsp::ClientHandle(transport.outbox()));
  transport.serve(server.methods());
  return 0;
}
