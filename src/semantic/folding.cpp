// Folding regions from the model. Linear in tasks plus groups: the tasks of each group are
// found by walking both lists, which are in document order, side by side.
#include "semantic/folding.h"

#include <algorithm>

namespace quib {

std::vector<FoldingRegion> folding_ranges(const SemanticModel& model) {
  std::vector<FoldingRegion> regions;
  for (const TaskDecl& task : model.tasks) {
    regions.push_back({task.range.start, task.range.end, FoldingFamily::Task});
  }
  for (const TaskDecl& task : model.tasks) {
    for (const CommandLine& command : task.commands) {
      if (command.line_ranges.size() < 2) continue;
      regions.push_back({command.line_ranges.front().start, command.line_ranges.back().end,
                         FoldingFamily::Block});
    }
  }

  // A task belongs to the group occurrence whose opening line is the last one before it, when
  // that group was still open (the task carries its name). Groups do not nest, so this is the
  // only candidate, and matching by name alone would stretch an unclosed group over a later
  // group of the same name.
  size_t next_task = 0;
  for (size_t i = 0; i < model.groups.size(); ++i) {
    const GroupDecl& group = model.groups[i];
    const uint32_t next_group_start =
        i + 1 < model.groups.size() ? model.groups[i + 1].range.start : UINT32_MAX;
    uint32_t end = group.range.end;
    while (next_task < model.tasks.size() &&
           model.tasks[next_task].range.start < next_group_start) {
      const TaskDecl& task = model.tasks[next_task++];
      if (task.range.start >= group.range.start && task.group == group.name) {
        end = std::max(end, task.range.end);
      }
    }
    if (group.close_range) end = group.close_range->end;
    regions.push_back({group.range.start, end, FoldingFamily::Group});
  }
  return regions;
}

}  // namespace quib
