// Throughput of the syntax front end on generated documents: tokens into a flat tree, and
// the whole lex + parse + tree build.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "support/document_generator.h"
#include "syntax/cursor.h"
#include "syntax/green.h"
#include "syntax/parse.h"

namespace {

// Building a tree from an existing token list: one Document node holding every token.
void BM_BuildFlatTree(benchmark::State& state) {
  const std::string text = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  const std::vector<quib::Token> tokens = quib::tokenize(text);
  for (auto _ : state) {
    quib::GreenBuilder builder;
    builder.start_node(quib::SyntaxKind::Document);
    for (size_t i = 0; i + 1 < tokens.size(); ++i) builder.token(tokens[i].kind, tokens[i].text);
    builder.finish_node();
    quib::GreenNodePtr root = builder.finish();
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_BuildFlatTree)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State& state) {
  const std::string text = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    quib::ParseResult result = quib::parse(text);
    benchmark::DoNotOptimize(result.root.text_range());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Parse)->Arg(100 << 10)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// A snapshot's windowed parse of one item line longer than its window (a group line of
// `bytes` bytes): the window grows past the line and its next one, so the line is lexed about
// twice, however long it is.
void BM_ParseTreeOneLongLine(benchmark::State& state) {
  const auto bytes = static_cast<size_t>(state.range(0));
  std::string line = "group ";
  while (line.size() < bytes) line += "x ";
  const auto text = std::make_shared<const std::string>(line + "{\n}\n");
  for (auto _ : state) {
    const quib::ParseResult parsed = quib::parse_tree(text);
    benchmark::DoNotOptimize(&parsed.root);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_ParseTreeOneLongLine)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
