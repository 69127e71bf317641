// The whole-file checks over a lowered model: names that do not resolve, things defined twice,
// unknown guards, shells and metadata keys. They never change the model.
#pragma once

#include <vector>

#include "semantic/model.h"
#include "semantic/task_tables.h"

namespace quib {

// The check diagnostics of `model`, in check order (every check is one pass over a model list).
std::vector<Diagnostic> run_checks(const SemanticModel& model);
// The same, with the task tables of `model` already built (by its lowering).
std::vector<Diagnostic> run_checks(const SemanticModel& model, const TaskTables& tables);

}  // namespace quib
