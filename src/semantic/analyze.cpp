// The semantic entry point: lowering followed by the checks.
#include "semantic/analyze.h"

#include "semantic/checks.h"
#include "semantic/lower.h"

namespace quib {

SemanticModel analyze(const ParseResult& parse, ModelStorage storage) {
  LoweredModel lowered = lower_with_tables(parse, std::move(storage));
  SemanticModel& model = lowered.model;
  std::vector<Diagnostic> checked = run_checks(model, lowered.tables);
  model.diagnostics.insert(model.diagnostics.end(), std::make_move_iterator(checked.begin()),
                           std::make_move_iterator(checked.end()));
  return std::move(model);
}

}  // namespace quib
