// Cost of the outline answers on a held snapshot of generated documents of 100 KB, 1 MB and
// 4 MB: the symbol list and the folding ranges, each up to its JSON text, which is most of the
// work for a large document. Time per byte should stay flat across the sizes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "lsp/document_store.h"
#include "lsp/json_writer.h"
#include "lsp/outline.h"
#include "support/document_generator.h"

namespace {

std::shared_ptr<const quib::lsp::DocumentSnapshot> snapshot_of(const benchmark::State& state) {
  auto text = std::make_shared<const std::string>(
      quib::generate_quibfile(static_cast<size_t>(state.range(0))));
  auto snapshot = std::make_shared<const quib::lsp::DocumentSnapshot>("file:///bench/Quibfile",
                                                                      std::move(text), 1);
  snapshot->lines();  // built on first use; every request after the first finds it
  return snapshot;
}

// Writes the answer `make` builds from the held snapshot, as the router does.
template <class Make>
void write_answer(benchmark::State& state, Make&& make) {
  const auto snapshot = snapshot_of(state);
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string json = quib::lsp::to_json_text(make(snapshot));
    bytes = json.size();
    benchmark::DoNotOptimize(json.data());
  }
  state.counters["reply_bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * snapshot->text.size()));
}

void BM_DocumentSymbols(benchmark::State& state) {
  write_answer(state, [](const auto& snapshot) { return quib::lsp::DocumentSymbols{snapshot}; });
}
BENCHMARK(BM_DocumentSymbols)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_FoldingRanges(benchmark::State& state) {
  write_answer(state, [](const auto& snapshot) { return quib::lsp::folding_ranges(*snapshot); });
}
BENCHMARK(BM_FoldingRanges)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
