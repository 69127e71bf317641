// Process entry: wires standard input and output to the transport and serves until `exit` or
// end of input. Reads no arguments, environment or configuration.
#include <malloc.h>
#include <unistd.h>

#include <csignal>

#include "lsp/protocol.h"
#include "lsp/transport.h"
#include "syntax/parallel.h"

int main() {
  // A write to an editor that has gone away must fail with EPIPE, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  // Two allocator arenas: the main thread's, where notifications (and so the analysis of every
  // document) run, and one that the helper thread of a split analysis claims before any other
  // thread exists, so that the two halves of an analysis never wait for each other's arena.
  // The reader and the request workers share them: with an arena each, every thread kept its
  // own peak of a large document's memory.
  mallopt(M_ARENA_MAX, 2);
  quib::start_helper();
  // No fast bins: a snapshot is hundreds of thousands of small blocks freed together, and
  // sorting those out later ("consolidation") cost more than merging each as it is freed.
  mallopt(M_MXFAST, 0);
  // Buffers of a large document (message bodies, texts, token and task arrays) are mapped and
  // unmapped on their own. By default the allocator raises this threshold after the first
  // such buffer is freed, and later ones then fragment the heap so that every change of a
  // large document leaves the process larger. Smaller buffers stay in the heap, where they are
  // reused without fresh pages: mapping everything from 256 KiB cost a 1 MB change a fifth of
  // its time in page faults.
  mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
  // Free memory at the top of a heap is given back only beyond 8 MiB (not 128 KiB): the next
  // analysis or request reuses it instead of faulting in every page again, which cost a tenth
  // of each change of a 1 MB document. At 4 MiB the working memory of requests and changes on
  // a 4 MB document was still given back and faulted in again each time (a dependency
  // completion 800 pages, a change 400 more than now); the peak with such a document open did
  // not move.
  mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
  quib::lsp::FdByteSource in(STDIN_FILENO);
  quib::lsp::FdByteSink out(STDOUT_FILENO);
  quib::lsp::Transport transport(in, out);
  quib::lsp::LanguageServer server(quib::lsp::ClientHandle(transport.outbox()));
  transport.watch_long_strings(server.long_string_watcher());
  transport.serve(server.methods());
  return 0;
}
