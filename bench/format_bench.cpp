// Throughput of whole-document formatting on generated documents. BM_FormatDocument includes
// the parse; BM_FormatParsedDocument formats a parse made outside the timed loop, as the
// language server does with the parse it already holds. The bytes/second of the sizes should
// match, showing the layout stays linear.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "support/document_generator.h"
#include "syntax/formatter.h"
#include "syntax/parse.h"

namespace {

void BM_FormatDocument(benchmark::State& state) {
  const std::string text = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  if (!quib::format_document(text)) {
    state.SkipWithError("the generated document was refused");
    return;
  }
  for (auto _ : state) {
    std::optional<std::string> formatted = quib::format_document(text);
    benchmark::DoNotOptimize(formatted);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["input_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_FormatDocument)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_FormatParsedDocument(benchmark::State& state) {
  const std::string text = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  const quib::ParseResult parsed = quib::parse(text);
  if (!quib::format_document(text, parsed)) {
    state.SkipWithError("the generated document was refused");
    return;
  }
  for (auto _ : state) {
    std::optional<std::string> formatted = quib::format_document(text, parsed);
    benchmark::DoNotOptimize(formatted);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["input_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_FormatParsedDocument)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
