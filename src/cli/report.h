// Printing of diagnostics for people (compiler-style lines with a source excerpt) and for tools
// (a JSON array in protocol positions). Knows nothing of files or arguments.
#pragma once

#include <ostream>
#include <string_view>
#include <vector>

#include "syntax/diagnostic.h"

namespace quib::cli {

// The diagnostics of one text, ordered by the start of their range (then the end; ties keep
// the analysis order), which is the order people read a file in.
std::vector<Diagnostic> in_source_order(std::vector<Diagnostic> diagnostics);

// Writes each diagnostic as
//   path:line:column: error[code]: first message line
//     help: further message lines, indented
//     7 | the source line
//       |     ^^^^
// Line and column are 1-based; the column counts characters (code points), not bytes. The
// carets cover the part of the range on its first line, at least one. A long source line is
// shown as a window of it around the range, with "..." where it is cut. `colour` adds terminal
// escape sequences.
void write_human(std::ostream& out, std::string_view path, std::string_view text,
                 const std::vector<Diagnostic>& diagnostics, bool colour);

// The JSON form: one array of every checked text's diagnostics, an object per diagnostic,
// {"path", "range", "severity", "code", "message"}, the range in protocol positions (zero-based
// lines, UTF-16 columns). Written as the texts are checked, so the array is never held whole.
class JsonReport {
 public:
  // Writes the array's opening bracket.
  explicit JsonReport(std::ostream& out);
  void add(std::string_view path, std::string_view text,
           const std::vector<Diagnostic>& diagnostics);
  // Writes the closing bracket and a line break.
  void finish();

 private:
  std::ostream& out_;
  bool empty_ = true;
};

}  // namespace quib::cli
