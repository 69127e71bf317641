// Document symbols and folding ranges from the snapshot's model; positions go through the
// snapshot's LineIndex.
#include "lsp/outline.h"

#include <optional>

#include "semantic/folding.h"

namespace quib::lsp {

namespace {
constexpr int kNamespaceSymbol = 3;
constexpr int kFunctionSymbol = 12;

// Positions for a list whose starts and ends each increase, as the model's lists of groups,
// tasks and blocks do: both walk forward through the line index instead of searching it, so a
// large document's list costs one pass over its lines. Out-of-order offsets stay correct; they
// only cost a search.
class ForwardRanges {
 public:
  explicit ForwardRanges(const LineIndex& lines) : lines_(lines) {}
  Position start(uint32_t offset) { return lines_.position_at_or_after(offset, start_line_); }
  Position end(uint32_t offset) { return lines_.position_at_or_after(offset, end_line_); }
  Range range(TextRange range) { return {start(range.start), end(range.end)}; }
  // For a new list: the next offsets may lie before the last ones.
  void restart() { start_line_ = end_line_ = 0; }

 private:
  const LineIndex& lines_;
  uint32_t start_line_ = 0;
  uint32_t end_line_ = 0;
};

// A large text has left the caches by the time a request comes, and region ends lie far apart
// in it: the byte before each end is fetched this many regions ahead, so the misses overlap
// instead of each stalling the trimming of its region.
constexpr size_t kPrefetchAhead = 16;

void prefetch_before(std::string_view text, uint32_t offset) {
  if (offset != 0 && offset <= text.size()) __builtin_prefetch(text.data() + offset - 1);
}

}  // namespace

void write_json(JsonWriter& w, const DocumentSymbols& symbols) {
  w.begin_array();
  if (symbols.snapshot) {
    const DocumentSnapshot& snapshot = *symbols.snapshot;
    const SemanticModel& model = snapshot.model;
    const std::string uri = to_json_text(snapshot.uri);
    // About 150 bytes a symbol besides its URI: reserving them keeps a large answer from
    // growing by doubling, each step a copy of everything written so far.
    w.reserve((model.groups.size() + model.tasks.size()) * (uri.size() + 160));
    const auto write_symbol = [&](std::string_view name, int kind, const Range& range,
                                  const std::optional<std::string>& container) {
      w.begin_object();
      write_member(w, "name", name);
      write_member(w, "kind", kind);
      w.key("location");
      w.begin_object();
      w.key("uri");
      w.raw(uri);
      write_member(w, "range", range);
      w.end_object();
      write_member(w, "containerName", container);
      w.end_object();
    };
    ForwardRanges group_ranges(snapshot.lines());
    for (const GroupDecl& group : model.groups) {
      write_symbol(group.name, kNamespaceSymbol, group_ranges.range(group.range), std::nullopt);
    }
    ForwardRanges task_ranges(snapshot.lines());
    for (const TaskDecl& task : model.tasks) {
      write_symbol(task.name, kFunctionSymbol, task_ranges.range(task.range), task.group);
    }
  }
  w.end_array();
}

std::vector<FoldingRange> folding_ranges(const DocumentSnapshot& snapshot) {
  std::vector<FoldingRange> ranges;
  const std::vector<FoldingRegion>& regions = snapshot.folding_regions;
  ranges.reserve(regions.size());
  // Regions come family by family (tasks, blocks, groups), each in document order.
  ForwardRanges positions(snapshot.lines());
  std::optional<FoldingFamily> family;
  for (size_t i = 0; i < regions.size(); ++i) {
    const FoldingRegion& region = regions[i];
    if (i + kPrefetchAhead < regions.size()) {
      prefetch_before(snapshot.text, regions[i + kPrefetchAhead].end);
    }
    if (region.family != family) positions.restart();
    family = region.family;
    const Position start = positions.start(region.start);
    const Position end =
        positions.end(last_non_whitespace_offset(snapshot.text, region.start, region.end));
    ranges.push_back({.startLine = start.line,
                      .startCharacter = start.character,
                      .endLine = end.line,
                      .endCharacter = end.character});
  }
  return ranges;
}

}  // namespace quib::lsp
