// Throughput of the whole language path (lex, parse, lower, check) on generated documents of
// three sizes; a flat time per byte across them shows the analysis is linear.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "semantic/analyze.h"
#include "support/document_generator.h"
#include "syntax/parse.h"

namespace {

// The generated documents are valid, so any diagnostic means a fault in the path under test.
bool reject_if_diagnosed(benchmark::State& state, const quib::SemanticModel& model) {
  if (model.diagnostics.empty()) return false;
  state.SkipWithError(("generated document raised " + model.diagnostics.front().code).c_str());
  return true;
}

// The path of a snapshot: the tree as `parse_tree` builds it (in two parts on two threads when
// large), then the analysis; wall time, since both use the helper thread.
void BM_ParseAndAnalyze(benchmark::State& state) {
  const auto text = std::make_shared<const std::string>(
      quib::generate_quibfile(static_cast<size_t>(state.range(0))));
  size_t task_count = 0;
  for (auto _ : state) {
    const quib::ParseResult parsed = quib::parse_tree(text);
    quib::SemanticModel model = quib::analyze(parsed);
    if (reject_if_diagnosed(state, model)) return;
    task_count = model.tasks.size();
    benchmark::DoNotOptimize(model.tasks.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
  state.counters["tasks"] = static_cast<double>(task_count);
  state.counters["ns_per_byte"] = benchmark::Counter(
      static_cast<double>(text->size()) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParseAndAnalyze)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Lexing and parsing alone, to show the semantic layer's share of the whole path.
void BM_ParseOnly(benchmark::State& state) {
  const std::string text = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    const quib::ParseResult parsed = quib::parse(text);
    benchmark::DoNotOptimize(parsed.tokens.kinds().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseOnly)->Arg(100 << 10)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// The tree alone, as a document snapshot parses it: in two parts on two threads when large.
void BM_ParseTree(benchmark::State& state) {
  const auto text = std::make_shared<const std::string>(
      quib::generate_quibfile(static_cast<size_t>(state.range(0))));
  for (auto _ : state) {
    const quib::ParseResult parsed = quib::parse_tree(text);
    benchmark::DoNotOptimize(&parsed.root);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text->size()));
}
BENCHMARK(BM_ParseTree)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The semantic layer alone, on a tree parsed once; wall time, since a large model is lowered
// and checked on two threads.
void BM_AnalyzeOnly(benchmark::State& state) {
  const std::string text = quib::generate_quibfile(static_cast<size_t>(state.range(0)));
  const quib::ParseResult parsed = quib::parse(text);
  for (auto _ : state) {
    quib::SemanticModel model = quib::analyze(parsed);
    if (reject_if_diagnosed(state, model)) return;
    benchmark::DoNotOptimize(model.tasks.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_AnalyzeOnly)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Documents of one long item line, which its accessors once copied token by token: a directive
// of `!` (shape 0: a name `!` and a million-token value) and a task header whose shell clause
// takes in a million unclosed parentheses (shape 1). The accessors keep only the few tokens they
// answer from, so the time per byte stays that of short lines.
std::string one_long_line(size_t bytes, int64_t shape) {
  if (shape == 0) return std::string(bytes, '!');
  return "t() shell=bash " + std::string(bytes, '(') + ":\n    echo\n";
}

// Times the analysis of `text`, parsed once, diagnostics and all.
void analyze_each_iteration(benchmark::State& state, const std::string& text) {
  const quib::ParseResult parsed = quib::parse(text);
  for (auto _ : state) {
    quib::SemanticModel model = quib::analyze(parsed);
    benchmark::DoNotOptimize(model.diagnostics.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_AnalyzeOneLongLine(benchmark::State& state) {
  analyze_each_iteration(state, one_long_line(static_cast<size_t>(state.range(0)), state.range(1)));
}
BENCHMARK(BM_AnalyzeOneLongLine)
    ->ArgsProduct({{1 << 20, 4 << 20}, {0, 1}})
    ->ArgNames({"bytes", "shape"})
    ->Unit(benchmark::kMillisecond);

// Documents of many directives between the tasks (each `!var` after a task is diagnosed):
// finding where the second of two lowering runs starts once looked at every directive before
// it by counting from the first item, quadratic in the items.
std::string directives_between_tasks(size_t bytes) {
  std::string text;
  for (size_t i = 0; text.size() < bytes; ++i) {
    const std::string n = std::to_string(i);
    text += "!var v" + n + " = \"x\"\nt" + n + ":\n    echo\n";
  }
  return text;
}

void BM_AnalyzeDirectivesBetweenTasks(benchmark::State& state) {
  analyze_each_iteration(state, directives_between_tasks(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_AnalyzeDirectivesBetweenTasks)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
