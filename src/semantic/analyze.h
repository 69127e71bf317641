// The single entry of the semantic layer: lowering, then the checks. Pure; nothing is cached.
#pragma once

#include "semantic/model.h"
#include "syntax/parse.h"

namespace quib {

// The model of one parsed file. Its diagnostics are the parse diagnostics, then the lowering
// diagnostics in raise order, then the check diagnostics in check order; the list is not sorted.
// `task_storage`, a list of default task records (from `empty_model`), lends its buffer to the
// model's task list.
SemanticModel analyze(const ParseResult& parse, std::vector<TaskDecl> task_storage = {});

}  // namespace quib
