// Lowering: reads one parsed file through the typed view into the document model. Reports what
// it cannot read; the whole-file checks are not run here.
#pragma once

#include "semantic/model.h"
#include "semantic/task_tables.h"
#include "syntax/parse.h"

namespace quib {

// The model of `parse`, complete with metadata inheritance, qualified dependencies and symbols.
// Its diagnostics are the parse diagnostics followed by the lowering diagnostics in the order
// they were raised. Never fails.
// A large document's items are lowered in two runs on two threads. `storage`, from
// `empty_model`, lends its task list's buffer and its record pools to the model.
SemanticModel lower(const ParseResult& parse, ModelStorage storage = {});
// A model and the task tables its lowering built on its way, for the checks.
struct LoweredModel {
  SemanticModel model;
  TaskTables tables;
};
// `lower`, keeping the task tables.
LoweredModel lower_with_tables(const ParseResult& parse, ModelStorage storage = {});
// `lower` with the items lowered in two runs, split before the root's child at index `cut`,
// whatever the document's size: for tests of the two-run path. The model is the same.
SemanticModel lower(const ParseResult& parse, uint32_t cut);

}  // namespace quib
