// Document symbols and folding ranges from the snapshot's model; positions go through the
// snapshot's LineIndex.
#include "lsp/outline.h"

#include "semantic/folding.h"

namespace quib::lsp {

namespace {
constexpr int kNamespaceSymbol = 3;
constexpr int kFunctionSymbol = 12;
}  // namespace

std::vector<SymbolInformation> document_symbols(const DocumentSnapshot& snapshot) {
  const SemanticModel& model = snapshot.model;
  std::vector<SymbolInformation> symbols;
  symbols.reserve(model.groups.size() + model.tasks.size());
  for (const GroupDecl& group : model.groups) {
    symbols.push_back({.name = group.name,
                       .kind = kNamespaceSymbol,
                       .location = {snapshot.uri, snapshot.lines.range_of(group.range)},
                       .containerName = std::nullopt});
  }
  for (const TaskDecl& task : model.tasks) {
    symbols.push_back({.name = task.name,
                       .kind = kFunctionSymbol,
                       .location = {snapshot.uri, snapshot.lines.range_of(task.range)},
                       .containerName = task.group});
  }
  return symbols;
}

std::vector<FoldingRange> folding_ranges(const DocumentSnapshot& snapshot) {
  std::vector<FoldingRange> ranges;
  for (const FoldingRegion& region : quib::folding_ranges(snapshot.model)) {
    const Position start = snapshot.lines.position_of(region.start);
    const Position end = snapshot.lines.position_of(
        last_non_whitespace_offset(snapshot.text, region.start, region.end));
    ranges.push_back({.startLine = start.line,
                      .startCharacter = start.character,
                      .endLine = end.line,
                      .endCharacter = end.character});
  }
  return ranges;
}

}  // namespace quib::lsp
