// Cost of `quib fmt --diff`'s line diff when nearly every line changed: a generated document
// against itself with every indented line indented differently, at two sizes. Time per byte
// should stay about flat, since the search for a shortest script is cut short past its limit.
// And when one line changed near the end, the usual case of an almost formatted file: the
// equal lines before it are kept without being hashed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "cli/line_diff.h"
#include "support/document_generator.h"

namespace {

// `text` with two spaces of indentation taken from every line that has four.
std::string reindented(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
    const std::string_view line(text.data() + start, end - start);
    out += line.starts_with("    ") ? line.substr(2) : line;
    start = end;
  }
  return out;
}

void BM_DiffOfReindentedDocument(benchmark::State& state) {
  const std::string before = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  const std::string after = reindented(before);
  for (auto _ : state) {
    const std::string diff = quib::cli::unified_diff(before, after, "old", "new");
    benchmark::DoNotOptimize(diff.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * before.size()));
}
BENCHMARK(BM_DiffOfReindentedDocument)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_DiffOfOneChangedLine(benchmark::State& state) {
  const std::string before = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  const std::string after = before + "\n";
  for (auto _ : state) {
    const std::string diff = quib::cli::unified_diff(before, after, "old", "new");
    benchmark::DoNotOptimize(diff.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * before.size()));
}
BENCHMARK(BM_DiffOfOneChangedLine)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
