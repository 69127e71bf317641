// Throughput of the syntax front end on generated documents: tokens into a flat tree, and
// the whole lex + parse + tree build.
#include <benchmark/benchmark.h>

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

}  // namespace
