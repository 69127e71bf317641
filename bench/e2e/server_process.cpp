// Child process, pipes and the bench's own framing reader. Framing is parsed here without the
// server's reader, so the bench does not measure the server with the server's own code.
#include "e2e/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace quib::bench {

namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::chrono::seconds kReceiveTimeout{120};

void make_pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

}  // namespace

ServerProcess::ServerProcess(const std::string& binary) {
  int in[2], out[2];
  make_pipe(in);
  make_pipe(out);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::string path = binary;
  char* argv[] = {path.data(), nullptr};
  char* envp[] = {nullptr};
  started_ = Clock::now();
  int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  stdin_fd_ = in[1];
  stdout_fd_ = out[0];
  if (rc != 0) throw std::runtime_error("cannot start " + binary);
  // A large pipe saves the server's writer and this reader many wake-ups per megabyte.
  fcntl(stdin_fd_, F_SETPIPE_SZ, 1 << 20);
  fcntl(stdout_fd_, F_SETPIPE_SZ, 1 << 20);
}

ServerProcess::~ServerProcess() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (stdout_fd_ >= 0) close(stdout_fd_);
  if (pid_ <= 0) return;
  for (int i = 0; i < 1000; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

void ServerProcess::send(std::string_view body) {
  std::string header = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  for (std::string_view bytes : {std::string_view(header), body}) {
    while (!bytes.empty()) {
      ssize_t n = write(stdin_fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw std::runtime_error("server stdin closed");
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
}

Received ServerProcess::receive() {
  auto deadline = Clock::now() + kReceiveTimeout;
  for (;;) {
    std::string_view view(buffer_.data() + start_, buffer_.size() - start_);
    std::size_t end = view.find("\r\n\r\n");
    if (end != std::string_view::npos) {
      std::size_t at = view.find("Content-Length: ");
      if (at == std::string_view::npos || at > end) throw std::runtime_error("bad header");
      std::size_t length = std::stoul(std::string(view.substr(at + 16, end - at - 16)));
      if (view.size() >= end + 4 + length) {
        Clock::time_point now = Clock::now();
        std::string body(view.substr(end + 4, length));
        start_ += end + 4 + length;
        if (start_ == buffer_.size()) {
          buffer_.clear();
          start_ = 0;
        }
        return Received{std::move(body), now};
      }
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) throw std::runtime_error("no message from the server in time");
    pollfd fd{stdout_fd_, POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    chunk_.resize(kReadChunk);
    ssize_t n = read(stdout_fd_, chunk_.data(), chunk_.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("server output ended");
    buffer_.append(chunk_.data(), static_cast<std::size_t>(n));
  }
}

long ServerProcess::peak_rss_kib() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  throw std::runtime_error("no VmHWM for the server process");
}

}  // namespace quib::bench
