// The `quib` command line: argument handling and the `check` and `fmt` commands over the
// analysis and the formatter. Owns no language logic; every answer comes from those layers.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quib::cli {

// Exit statuses, worst last; a run reports the worst status any file gave.
enum class Status : int {
  Clean = 0,     // no diagnostics; nothing would change
  Findings = 1,  // diagnostics, or (with `fmt --check`) a file not in canonical layout
  Trouble = 2,   // usage error, or a file that could not be read or written
};

struct Streams {
  std::ostream& out;
  std::ostream& err;
  bool colour_out = false;  // terminal escapes in what goes to `out`
  bool colour_err = false;
};

// Runs one command line (`args` without the program name). Paths are read and written
// directly; "-" stands for standard input (read from the process's descriptor 0).
Status run(const std::vector<std::string>& args, const Streams& streams);

}  // namespace quib::cli
