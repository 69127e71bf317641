// File access for the command line: whole-file reads with the reason of a failure, and the
// atomic in-place replacement that `quib fmt` writes with. Knows nothing of Quibfile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quib::cli {

struct ReadOutcome {
  std::optional<std::string> text;
  std::string error;  // why `text` is absent, e.g. "No such file or directory"
};

// Reads every byte of the file at `path` (or of standard input when `path` is empty).
// Invariant: a text that comes back fits the 32-bit byte offsets of the syntax layer; a larger
// input is refused rather than analysed only in part.
ReadOutcome read_file(const std::string& path);

// Replaces the contents of the file at `path` with `text` so that a reader (or a crash) sees
// either the old or the new contents, never a mix: the text goes to a temporary file in the
// same directory, which then takes the file's place by rename. The file's permission bits and
// (where allowed) its owner are kept; a symbolic link stays a link and its target is replaced.
// Nothing on success, else the reason; on failure the file is untouched and no temporary file
// remains.
std::optional<std::string> replace_file(const std::string& path, std::string_view text);

}  // namespace quib::cli
