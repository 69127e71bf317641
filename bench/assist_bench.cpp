// Hover and completion at positions in the middle of a ~1 MB generated document, alone and
// together with the snapshot (parse and analysis) that each request builds first.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "lsp/completion.h"
#include "lsp/document_store.h"
#include "lsp/hover.h"
#include "support/document_generator.h"

namespace {

using quib::lsp::DocumentSnapshot;

const std::shared_ptr<const std::string>& document() {
  static const auto text =
      std::make_shared<const std::string>(quib::generate_quibfile(1'000'000, 1));
  return text;
}

std::unique_ptr<DocumentSnapshot> snapshot() {
  return std::make_unique<DocumentSnapshot>("file:///bench/Quibfile", document(), 1);
}

// The first header after the middle with a single dependency after its parameters, as in
// "    t3(x) & all_450 & package_350:". Gives the offset of that dependency's name.
uint32_t mid_dependency_name() {
  const std::string& text = *document();
  size_t at = text.find(") & ", text.size() / 2);
  while (at != std::string::npos && text[at + 4] == '(') at = text.find(") & ", at + 1);
  if (at == std::string::npos) std::abort();
  return static_cast<uint32_t>(at + 4);
}

uint32_t mid_placeholder() {
  const size_t at = document()->find("{{ ", document()->size() / 2);
  if (at == std::string::npos) std::abort();
  return static_cast<uint32_t>(at + 3);
}

void hover(benchmark::State& state, uint32_t offset, bool with_snapshot) {
  const std::unique_ptr<DocumentSnapshot> shared = snapshot();
  for (auto _ : state) {
    std::unique_ptr<DocumentSnapshot> fresh = with_snapshot ? snapshot() : nullptr;
    const DocumentSnapshot& used = fresh ? *fresh : *shared;
    auto info = quib::lsp::hover_at(used, offset);
    if (!info) {
      state.SkipWithError("no hover at the benchmark position");
      break;
    }
    benchmark::DoNotOptimize(quib::lsp::hover_markdown(*info));
  }
}

// The cursor two bytes into the dependency name: the dependency context reads the names of
// the document without the cursor's line, scanning only the items around that line.
void completion(benchmark::State& state, bool with_snapshot) {
  const uint32_t cursor = mid_dependency_name() + 2;
  const std::unique_ptr<DocumentSnapshot> shared = snapshot();
  for (auto _ : state) {
    std::unique_ptr<DocumentSnapshot> fresh = with_snapshot ? snapshot() : nullptr;
    const DocumentSnapshot& used = fresh ? *fresh : *shared;
    auto candidates = quib::lsp::completion_at(used.model, used.text, cursor);
    if (candidates.empty()) {
      state.SkipWithError("no completion at the benchmark position");
      break;
    }
    benchmark::DoNotOptimize(candidates);
  }
}

void BM_Snapshot(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(snapshot());
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMillisecond);

void BM_HoverPlaceholder(benchmark::State& state) {
  hover(state, mid_placeholder(), false);
}
BENCHMARK(BM_HoverPlaceholder)->Unit(benchmark::kMicrosecond);

void BM_HoverDependency(benchmark::State& state) {
  hover(state, mid_dependency_name(), false);
}
BENCHMARK(BM_HoverDependency)->Unit(benchmark::kMicrosecond);

void BM_HoverDependencyWithSnapshot(benchmark::State& state) {
  hover(state, mid_dependency_name(), true);
}
BENCHMARK(BM_HoverDependencyWithSnapshot)->Unit(benchmark::kMillisecond);

void BM_CompletionDependency(benchmark::State& state) {
  completion(state, false);
}
BENCHMARK(BM_CompletionDependency)->Unit(benchmark::kMillisecond);

void BM_CompletionDependencyWithSnapshot(benchmark::State& state) {
  completion(state, true);
}
BENCHMARK(BM_CompletionDependencyWithSnapshot)->Unit(benchmark::kMillisecond);

// About 1 MB of tasks inside one group, none at the start of a line: the names around the
// cursor's line are scanned from the task before it to the task after it, as at the top level.
void BM_CompletionDependencyInOneGroup(benchmark::State& state) {
  static const auto text = [] {
    auto grouped = std::make_shared<std::string>("group ci {\n    t0():\n        echo 0\n");
    for (int i = 1; grouped->size() < 1'000'000; ++i) {
      const std::string n = std::to_string(i);
      *grouped += "    t" + n + "() & t" + std::to_string(i - 1) + ":\n        echo " + n + "\n";
    }
    *grouped += "}\n";
    return std::shared_ptr<const std::string>(std::move(grouped));
  }();
  const DocumentSnapshot held("file:///bench/Quibfile", text, 1);
  const uint32_t cursor = static_cast<uint32_t>(text->find("() & t", text->size() / 2) + 7);
  for (auto _ : state) {
    auto candidates = quib::lsp::completion_at(held.model, held.text, cursor);
    benchmark::DoNotOptimize(candidates);
  }
}
BENCHMARK(BM_CompletionDependencyInOneGroup)->Unit(benchmark::kMillisecond);

}  // namespace
