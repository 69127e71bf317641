// ServerProcess: one language server child process on pipes, for the end-to-end bench. Writes
// framed bodies, reads framed bodies with the time each one finished arriving. No JSON here.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quib::bench {

using Clock = std::chrono::steady_clock;

// One body from the server and the moment its last byte was read.
struct Received {
  std::string body;
  Clock::time_point at;
};

class ServerProcess {
 public:
  // Starts `binary` with no arguments and an empty environment; stderr is inherited, so a
  // failing server is seen in the bench's own output.
  explicit ServerProcess(const std::string& binary);
  // Closes stdin and waits for the exit; kills the child if it does not end within 10 s.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t pid() const { return pid_; }
  Clock::time_point started() const { return started_; }

  // Writes one framed message (header added here). Blocks until the pipe took every byte;
  // the server reads on its own thread, so this never waits for the server's output.
  void send(std::string_view body);
  // The next body, in arrival order; throws std::runtime_error after 120 s or at end of output.
  Received receive();

  // Peak resident set size in KiB (VmHWM of /proc/<pid>/status).
  long peak_rss_kib() const;

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  Clock::time_point started_;
  std::vector<char> chunk_;
  std::string buffer_;
  std::size_t start_ = 0;
};

}  // namespace quib::bench
