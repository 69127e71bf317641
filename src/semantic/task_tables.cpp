#include "semantic/task_tables.h"

namespace quib {

TaskTables::TaskTables(const SemanticModel& model)
    : qualified_names(model.task_symbols.size()), top_level_names(model.tasks.size()) {
  QUIB_ASSERT(model.task_symbols.size() == model.tasks.size(),
              "lowering must give every task one symbol");
  name_hashes.reserve(model.task_symbols.size());
}

TaskTables TaskTables::of(const SemanticModel& model) {
  TaskTables tables(model);
  for (uint32_t i = 0; i < model.tasks.size(); ++i) tables.index_task(model, i);
  return tables;
}

uint32_t TaskTables::index_task(const SemanticModel& model, uint32_t index) {
  QUIB_ASSERT(index == name_hashes.size(), "tasks are indexed in task order");
  const TaskDecl& task = model.tasks[index];
  if (!task.group) {
    top_level_names.insert(hash_text(task.name), index,
                           [&](uint32_t other) { return model.tasks[other].name == task.name; });
  }
  const std::string& name = model.task_symbols[index].name;
  name_hashes.push_back(hash_text(name));
  return qualified_names.insert(name_hashes.back(), index, [&](uint32_t other) {
    return model.task_symbols[other].name == name;
  });
}

}  // namespace quib
