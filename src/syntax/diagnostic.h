// Diagnostic: the one problem record of the system, made by parsing, lowering and the checks
// and published by the server. Plain value; copied freely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/text_range.h"

namespace quib {

enum class DiagnosticSeverity : uint8_t { Error = 0 };

// Which constructor made the diagnostic; not sent to the client.
enum class DiagnosticStage : uint8_t {
  Syntax = 1,    // parse.* and the version-number errors
  Lowering = 2,  // items lowering cannot read
  Check = 3,     // everything else
};

struct DiagnosticNote {
  std::string message;
  TextRange range;

  bool operator==(const DiagnosticNote&) const = default;
};

struct Diagnostic {
  // Shown to the user; an advice line follows after "\n", starting "help: ".
  std::string message;
  // Stable dotted identifier: a stage prefix and a kebab-case name ("parse.unexpected-token").
  std::string code;
  std::vector<TextRange> secondary_ranges;
  std::vector<DiagnosticNote> related_notes;
  TextRange range;
  DiagnosticSeverity severity = DiagnosticSeverity::Error;
  DiagnosticStage stage = DiagnosticStage::Syntax;

  // Parser diagnostics; an empty range is widened to one byte so editors can show it.
  static Diagnostic syntax_error(std::string_view code, std::string_view message, TextRange range);
  static Diagnostic version_error(std::string_view code, std::string_view message, TextRange range);
  static Diagnostic lowering_error(std::string_view code, std::string_view message,
                                   TextRange range);
  static Diagnostic check(std::string_view code, std::string_view message, TextRange range);

  bool operator==(const Diagnostic&) const = default;
};

}  // namespace quib
