// Runs the real `quib` binary for the command-line tests, and the scratch directories they
// work in. Knows the process plumbing but nothing of Quibfile.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quib::cli::testing {

struct QuibRun {
  int status;  // the exit status, or -(signal number) if the process was killed
  std::string out;
  std::string err;
};

// Runs `quib args...` in `directory` with `input` on stdin and an empty environment (so no
// colour: the output streams are not terminals either).
QuibRun run_quib(const std::vector<std::string>& args, const std::filesystem::path& directory,
                 std::string_view input = "");

// A fresh directory under the system's temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void write(const std::string& name, std::string_view text) const;
  std::string read(const std::string& name) const;
  // Names of the directory's entries, hidden ones included, sorted.
  std::vector<std::string> entries() const;

 private:
  std::filesystem::path path_;
};

}  // namespace quib::cli::testing
