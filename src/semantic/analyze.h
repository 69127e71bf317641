// The single entry of the semantic layer: lowering, then the checks. Pure; nothing is cached.
#pragma once

#include "semantic/model.h"
#include "syntax/parse.h"

namespace quib {

// The model of one parsed file. Its diagnostics are the parse diagnostics, then the lowering
// diagnostics in raise order, then the check diagnostics in check order; the list is not sorted.
// `storage`, from `empty_model`, lends its task list's buffer and its record pools to the model.
SemanticModel analyze(const ParseResult& parse, ModelStorage storage = {});

}  // namespace quib
