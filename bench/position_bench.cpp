// Cost of offset -> position conversion through LineIndex on a large generated document, and
// on one long line that is not ASCII, where each conversion should cost the same whatever the
// line's length.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lsp/position.h"

namespace {

// About 1 MB of task-file-like lines; one line in eight carries ¥, ↓ or 😂 so both the
// ASCII fast path and the per-line walk are measured.
std::string make_document() {
  std::string text;
  std::mt19937 rng(7);
  for (uint32_t line = 0; text.size() < 1'000'000; ++line) {
    text += line % 8 == 0 ? "    echo \"¥ ↓ 😂 {{ target }}\" # notes\n"
                          : "    cargo build --release --target {{ target }}\n";
    if (rng() % 16 == 0) {
      text += "deploy(target, rest..) ? @os(\"linux\") & build:\n";
    }
  }
  return text;
}

// Offsets on character boundaries, as the syntax tree hands them over.
std::vector<uint32_t> make_offsets(const std::string& text, size_t count) {
  std::mt19937 rng(11);
  std::vector<uint32_t> offsets;
  offsets.reserve(count);
  while (offsets.size() < count) {
    auto offset = static_cast<uint32_t>(rng() % (text.size() + 1));
    while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) {
      --offset;
    }
    offsets.push_back(offset);
  }
  return offsets;
}

void BM_LineIndexPositions(benchmark::State& state) {
  const std::string text = make_document();
  const std::vector<uint32_t> offsets = make_offsets(text, 100'000);
  const quib::lsp::LineIndex index(text);
  for (auto _ : state) {
    for (const uint32_t offset : offsets) {
      benchmark::DoNotOptimize(index.position_of(offset));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(offsets.size()));
}
BENCHMARK(BM_LineIndexPositions)->Unit(benchmark::kMillisecond);

void BM_LineIndexBuild(benchmark::State& state) {
  const std::string text = make_document();
  for (auto _ : state) {
    benchmark::DoNotOptimize(quib::lsp::LineIndex(text));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LineIndexBuild)->Unit(benchmark::kMillisecond);

// Conversions both ways at spread offsets and columns of one line of `state.range(0)` bytes
// with a few non-ASCII characters: time per conversion should stay flat from 64 KB to 4 MB.
void BM_LineIndexOneLongLine(benchmark::State& state) {
  std::string text;
  while (text.size() < static_cast<size_t>(state.range(0))) text += "echo {{ x }} ¥ ↓ 😂 ";
  const std::vector<uint32_t> offsets = make_offsets(text, 10'000);
  const quib::lsp::LineIndex index(text);
  for (auto _ : state) {
    for (const uint32_t offset : offsets) {
      const quib::lsp::Position position = index.position_of(offset);
      benchmark::DoNotOptimize(index.offset_of(position));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(offsets.size()));
}
BENCHMARK(BM_LineIndexOneLongLine)->Arg(64 << 10)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
