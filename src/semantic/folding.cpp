// Folding regions from the model, linear in tasks plus groups.
#include "semantic/folding.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace quib {

std::vector<FoldingRegion> folding_ranges(const SemanticModel& model) {
  std::vector<FoldingRegion> regions;
  regions.reserve(2 * model.tasks.size() + model.groups.size());
  // One pass over the tasks, their blocks kept apart until the task regions are all listed: a
  // large model does not fit the caches, and each task record is then read from memory once.
  // Each task's command list is fetched a few tasks ahead, and the record, which says where that
  // list lies, further ahead still, so the misses overlap.
  std::vector<FoldingRegion> blocks;
  constexpr size_t kListAhead = 8;
  constexpr size_t kRecordAhead = 2 * kListAhead;
  const size_t count = model.tasks.size();
  for (size_t i = 0; i < count; ++i) {
    const TaskDecl& task = model.tasks[i];
    if (i + kRecordAhead < count) __builtin_prefetch(&model.tasks[i + kRecordAhead].commands);
    if (i + kListAhead < count) __builtin_prefetch(model.tasks[i + kListAhead].commands.data());
    regions.push_back({task.range.start, task.range.end, FoldingFamily::Task});
    for (const CommandLine& command : task.commands) {
      if (command.line_ranges.size() < 2) continue;
      blocks.push_back({command.line_ranges.front().start, command.line_ranges.back().end,
                        FoldingFamily::Block});
    }
  }
  regions.insert(regions.end(), blocks.begin(), blocks.end());

  // An unclosed group folds to the last task of any group of the same name: a name opened
  // again later is the same group continued. Only an unclosed group needs those ends.
  std::unordered_map<std::string_view, uint32_t> last_task_end;
  const bool any_unclosed = std::any_of(model.groups.begin(), model.groups.end(),
                                        [](const GroupDecl& group) { return !group.close_range; });
  if (any_unclosed) {
    for (const TaskDecl& task : model.tasks) {
      if (!task.group) continue;
      uint32_t& end = last_task_end[*task.group];
      end = std::max(end, task.range.end);
    }
  }
  for (const GroupDecl& group : model.groups) {
    uint32_t end = group.range.end;
    if (group.close_range) {
      end = group.close_range->end;
    } else if (auto found = last_task_end.find(group.name); found != last_task_end.end()) {
      end = std::max(end, found->second);
    }
    regions.push_back({group.range.start, end, FoldingFamily::Group});
  }
  return regions;
}

}  // namespace quib
