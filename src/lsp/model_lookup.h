// Offset lookups in the document model shared by the editor features.
#pragma once

#include <algorithm>
#include <cstdint>

#include "semantic/model.h"

namespace quib::lsp {

// The task whose range holds `offset` (a byte offset), or null. Tasks are disjoint top-level
// items in document order, so a binary search on their starts finds it.
inline const TaskDecl* task_containing(const SemanticModel& model, uint32_t offset) {
  auto after =
      std::upper_bound(model.tasks.begin(), model.tasks.end(), offset,
                       [](uint32_t at, const TaskDecl& task) { return at < task.range.start; });
  if (after == model.tasks.begin()) return nullptr;
  const TaskDecl& task = *(after - 1);
  return task.range.contains(offset) ? &task : nullptr;
}

}  // namespace quib::lsp
