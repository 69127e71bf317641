// Child process for QuibRun: every standard stream is an anonymous in-memory file, so the
// test cannot deadlock on a full pipe and leaves nothing in the directories it inspects.
#include "quib_process.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quib::cli::testing {
namespace {

int memory_file(const char* name) {
  const int fd = ::memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  return fd;
}

std::string read_back(int fd) {
  std::string text;
  char buffer[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

}  // namespace

QuibRun run_quib(const std::vector<std::string>& args, const std::filesystem::path& directory,
                 std::string_view input) {
  const int in = memory_file("stdin");
  const int out = memory_file("stdout");
  const int err = memory_file("stderr");
  if (::write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
      ::lseek(in, 0, SEEK_SET) != 0) {
    throw std::runtime_error("cannot prepare stdin");
  }
  // Everything the child needs is built before fork: after it only async-signal-safe calls.
  std::vector<std::string> argv_strings{QUIB_CLI_BINARY};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  char* envp[] = {nullptr};
  const std::string where = directory.string();

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(where.c_str()) != 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0) {
      ::_exit(127);
    }
    ::execve(argv[0], argv.data(), envp);
    ::_exit(127);
  }
  ::close(in);
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -WTERMSIG(wait_status);
  return QuibRun{status, read_back(out), read_back(err)};
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quib-cli-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, std::string_view text) const {
  std::ofstream file(path_ / name, std::ios::binary | std::ios::trunc);
  file << text;
  if (!file.flush()) throw std::runtime_error("cannot write " + name);
}

std::string ScratchDir::read(const std::string& name) const {
  std::ifstream file(path_ / name, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + name);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> ScratchDir::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quib::cli::testing
