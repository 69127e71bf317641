// The whole-file checks over a lowered model: names that do not resolve, things defined twice,
// unknown guards, shells and metadata keys. They never change the model.
#pragma once

#include <vector>

#include "semantic/model.h"

namespace quib {

// The check diagnostics of `model`, in check order (every check is one pass over a model list).
std::vector<Diagnostic> run_checks(const SemanticModel& model);

}  // namespace quib
