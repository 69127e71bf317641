// The file-wide task lookups that lowering builds on its way and the checks read afterwards, so
// that a large model's names are hashed and indexed once per analysis.
#pragma once

#include <cstdint>
#include <vector>

#include "semantic/index_table.h"
#include "semantic/model.h"

namespace quib {

// Indices into one model's task list, valid for that model (and its moves) as long as its tasks'
// names and groups do not change. Read-only once built, so two threads may read them at once.
struct TaskTables {
  // Empty tables with room for every task of `model`.
  explicit TaskTables(const SemanticModel& model);
  // Both tables of `model`, built in task order.
  static TaskTables of(const SemanticModel& model);

  // Adds task `index`, the next in task order, under its qualified name (its symbol), and under
  // its plain name when it is outside a group; the index of its qualified name's first
  // definition, `index` itself when it is the first. Tasks are indexed in one pass over the
  // model, whose task records a large model no longer holds in the caches.
  uint32_t index_task(const SemanticModel& model, uint32_t index);

  IndexTable qualified_names;       // every task, by qualified name: the first definition stands
  IndexTable top_level_names;       // the tasks outside groups, by plain name
  std::vector<size_t> name_hashes;  // of every task's qualified name, in task order
};

}  // namespace quib
