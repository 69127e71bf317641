// Lowering: reads one parsed file through the typed view into the document model. Reports what
// it cannot read; the whole-file checks are not run here.
#pragma once

#include "semantic/model.h"
#include "syntax/parse.h"

namespace quib {

// The model of `parse`, complete with metadata inheritance, qualified dependencies and symbols.
// Its diagnostics are the parse diagnostics followed by the lowering diagnostics in the order
// they were raised. Never fails.
SemanticModel lower(const ParseResult& parse);

}  // namespace quib
