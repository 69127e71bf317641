#include "syntax/diagnostic.h"

namespace quib {
namespace {

Diagnostic make(std::string_view code, std::string_view message, TextRange range,
                DiagnosticStage stage) {
  Diagnostic d;
  d.message = std::string(message);
  d.code = std::string(code);
  d.range = range;
  d.severity = DiagnosticSeverity::Error;
  d.stage = stage;
  return d;
}

}  // namespace

Diagnostic Diagnostic::syntax_error(std::string_view code, std::string_view message,
                                    TextRange range) {
  if (range.empty()) range = TextRange(range.start, range.start + 1);
  return make(code, message, range, DiagnosticStage::Syntax);
}

Diagnostic Diagnostic::version_error(std::string_view code, std::string_view message,
                                     TextRange range) {
  return make(code, message, range, DiagnosticStage::Syntax);
}

Diagnostic Diagnostic::lowering_error(std::string_view code, std::string_view message,
                                      TextRange range) {
  return make(code, message, range, DiagnosticStage::Lowering);
}

Diagnostic Diagnostic::check(std::string_view code, std::string_view message, TextRange range) {
  return make(code, message, range, DiagnosticStage::Check);
}

}  // namespace quib
