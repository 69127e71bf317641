// Process entry of `quib`: collects the arguments, decides on colour, and turns the outcome
// into the exit status. Everything else lives in cli.cpp.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

// Colour only for a terminal, and never when NO_COLOR is set, whatever its value.
bool wants_colour(int fd) {
  return ::isatty(fd) == 1 && std::getenv("NO_COLOR") == nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    const quib::cli::Streams streams{std::cout, std::cerr, wants_colour(STDOUT_FILENO),
                                     wants_colour(STDERR_FILENO)};
    const quib::cli::Status status = quib::cli::run(args, streams);
    // `fmt -` hands its result over on stdout; a failed write there is lost data, not success.
    if (!std::cout.flush()) {
      std::cerr << "quib: cannot write to standard output\n";
      return static_cast<int>(quib::cli::Status::Trouble);
    }
    return static_cast<int>(status);
  } catch (const std::exception& error) {
    std::cerr << "quib: internal error: " << error.what() << '\n';
  } catch (...) {
    std::cerr << "quib: internal error\n";
  }
  return static_cast<int>(quib::cli::Status::Trouble);
}
