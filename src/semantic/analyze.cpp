// The semantic entry point: lowering followed by the checks.
#include "semantic/analyze.h"

#include "semantic/checks.h"
#include "semantic/lower.h"

namespace quib {

SemanticModel analyze(const ParseResult& parse, ModelStorage storage) {
  SemanticModel model = lower(parse, std::move(storage));
  std::vector<Diagnostic> checked = run_checks(model);
  model.diagnostics.insert(model.diagnostics.end(), std::make_move_iterator(checked.begin()),
                           std::make_move_iterator(checked.end()));
  return model;
}

}  // namespace quib
