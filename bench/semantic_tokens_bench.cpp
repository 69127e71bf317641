// Cost of semantic highlighting on generated documents of 100 KB, 1 MB and 4 MB: the whole
// request (snapshot, collection, encoding), the token work alone on a ready snapshot, and the
// answer's JSON text as the handler writes it.
// Time per byte should stay flat across the sizes; one long block, the worst order of spans
// within an item, should cost the same per line at two sizes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "lsp/document_store.h"
#include "lsp/large_buffers.h"
#include "lsp/semantic_tokens.h"
#include "support/document_generator.h"

namespace {

std::shared_ptr<const std::string> document(const benchmark::State& state) {
  return std::make_shared<const std::string>(
      quib::generate_quibfile(static_cast<size_t>(state.range(0))));
}

// What the handler does: analyse the stored text afresh, then collect and encode.
void BM_SemanticTokensRequest(benchmark::State& state) {
  const auto text = document(state);
  size_t tokens = 0;
  for (auto _ : state) {
    const quib::lsp::DocumentSnapshot snapshot("file:///bench", text, 1);
    const std::vector<uint32_t> data = quib::lsp::semantic_tokens(snapshot);
    tokens = data.size() / 5;
    benchmark::DoNotOptimize(data.data());
  }
  state.counters["tokens"] = static_cast<double>(tokens);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_SemanticTokensRequest)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond);

// The snapshot alone (parse, analysis, line index), to tell its share of the request.
void BM_SnapshotOnly(benchmark::State& state) {
  const auto text = document(state);
  for (auto _ : state) {
    const quib::lsp::DocumentSnapshot snapshot("file:///bench", text, 1);
    benchmark::DoNotOptimize(&snapshot);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_SnapshotOnly)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// Collection and encoding only, on a snapshot built once.
void BM_SemanticTokensOnly(benchmark::State& state) {
  const auto text = document(state);
  const quib::lsp::DocumentSnapshot snapshot("file:///bench", text, 1);
  for (auto _ : state) {
    const std::vector<uint32_t> data = quib::lsp::semantic_tokens(snapshot);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_SemanticTokensOnly)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond);

// The answer as the handler writes it, JSON text into the kept large buffer, whose storage the
// writer gives back once the answer is sent, as here after each iteration.
void BM_SemanticTokensAnswer(benchmark::State& state) {
  const auto text = document(state);
  const quib::lsp::DocumentSnapshot snapshot("file:///bench", text, 1);
  snapshot.lines();  // built on first use; every request after the first finds it
  for (auto _ : state) {
    std::string answer = quib::lsp::semantic_tokens_json(snapshot);
    benchmark::DoNotOptimize(answer.data());
    quib::lsp::large_buffers().give(std::move(answer));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_SemanticTokensAnswer)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond);

// One task whose body is a single block of `state.range(0)` lines, each with a reference: the
// span order within one item is the worst case for sorting it, and the time per line should
// stay flat from 16,000 to 256,000 lines.
void BM_SemanticTokensOneLongBlock(benchmark::State& state) {
  std::string block = "t:\n";
  for (int64_t line = 0; line < state.range(0); ++line) block += "    | echo {{ v }}\n";
  const quib::lsp::DocumentSnapshot snapshot(
      "file:///bench", std::make_shared<const std::string>(std::move(block)), 1);
  for (auto _ : state) {
    const std::vector<uint32_t> data = quib::lsp::semantic_tokens(snapshot);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SemanticTokensOneLongBlock)->Arg(16'000)->Arg(256'000)->Unit(benchmark::kMillisecond);

}  // namespace
