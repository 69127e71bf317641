// From a `didChange` to its queued `publishDiagnostics` for documents with many diagnostics:
// storing and analysing the text, converting every range to UTF-16 positions and writing the
// notification. The notification goes to a sink that drops it.
#include <benchmark/benchmark.h>

#include <boost/json.hpp>
#include <string>

#include "lsp/protocol.h"
#include "lsp/transport.h"
#include "support/document_generator.h"

namespace quib::lsp {
namespace {

class DiscardSink final : public ByteSink {
 public:
  bool write_all(std::string_view) override { return true; }
};

// A valid generated document followed by `count` lone `!` lines, one diagnostic each.
std::string document_with_diagnostics(size_t bytes, size_t count) {
  std::string text = generate_quibfile(bytes);
  for (size_t i = 0; i < count; ++i) text += "!\n";
  return text;
}

void BM_DidChangeToPublish(benchmark::State& state) {
  const std::string text = document_with_diagnostics(static_cast<size_t>(state.range(0)), 10000);
  const json::value params = json::object{
      {"textDocument", json::object{{"uri", "file:///bench/Quibfile"}, {"version", 2}}},
      {"contentChanges", json::array{json::object{{"text", text}}}}};
  DiscardSink sink;
  Outbox outbox(sink);
  LanguageServer server{ClientHandle(outbox)};
  const MethodTable table = server.methods();
  const MethodTable::NotificationHandler& did_change =
      *table.notification("textDocument/didChange");
  for (auto _ : state) {
    state.PauseTiming();
    json::value owned = params;
    state.ResumeTiming();
    did_change(std::move(owned), {});
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["diagnostics"] = 10000;
}
BENCHMARK(BM_DidChangeToPublish)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quib::lsp
