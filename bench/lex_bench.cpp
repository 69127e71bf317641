// Throughput of the whole lexer (recogniser, cursor and token list) on a generated document.
#include <benchmark/benchmark.h>

#include <string>

#include "support/document_generator.h"
#include "syntax/cursor.h"

namespace {

void BM_TokenizeDocument(benchmark::State& state) {
  const std::string text = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  size_t token_count = 0;
  for (auto _ : state) {
    std::vector<quib::Token> tokens = quib::tokenize(text);
    token_count = tokens.size();
    benchmark::DoNotOptimize(tokens.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["tokens"] = static_cast<double>(token_count);
  state.counters["bytes_per_token"] = static_cast<double>(text.size()) / token_count;
}
BENCHMARK(BM_TokenizeDocument)->Arg(1 << 20)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

}  // namespace
