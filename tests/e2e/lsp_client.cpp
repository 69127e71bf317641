// Child process, pipes and framed reads with deadlines for LspClient. Framing is parsed here
// independently of the server's reader, so a framing bug cannot hide on both sides.
#include "lsp_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace quib::lsp::testing {

namespace {

using Clock = std::chrono::steady_clock;

void make_pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Cuts one framed message off the front of `bytes`, if a whole one is there.
std::optional<std::string> take_message(std::string& bytes) {
  std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return std::nullopt;
  std::size_t at = bytes.find("Content-Length: ");
  if (at == std::string::npos || at > end) throw std::runtime_error("header without length");
  std::size_t length = std::stoul(bytes.substr(at + 16, end - at - 16));
  if (bytes.size() < end + 4 + length) return std::nullopt;
  std::string body = bytes.substr(end + 4, length);
  bytes.erase(0, end + 4 + length);
  return body;
}

}  // namespace

LspClient::LspClient() {
  int in[2], out[2], err[2];
  make_pipe(in);
  make_pipe(out);
  make_pipe(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  char binary[] = QUIB_LSP_BINARY;
  char* argv[] = {binary, nullptr};
  char* envp[] = {nullptr};
  int rc = posix_spawn(&pid_, binary, &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  stdin_fd_ = in[1];
  stdout_fd_ = out[0];
  stderr_fd_ = err[0];
  if (rc != 0) throw std::runtime_error("cannot start " + std::string(QUIB_LSP_BINARY));
}

LspClient::~LspClient() {
  close_stdin();
  if (!exit_status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdout_fd_ >= 0) close(stdout_fd_);
  if (stderr_fd_ >= 0) close(stderr_fd_);
}

void LspClient::send_raw(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(stdin_fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("server stdin closed");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void LspClient::send_body(std::string_view body) {
  send_raw("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
  send_raw(body);
}

int64_t LspClient::send_request(std::string_view method, json::value params) {
  int64_t id = next_id_++;
  send_body(json::serialize(json::object{
      {"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}}));
  return id;
}

void LspClient::notify(std::string_view method, json::value params) {
  send_body(json::serialize(
      json::object{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}));
}

json::object LspClient::request(std::string_view method, json::value params) {
  return wait_response(send_request(method, std::move(params)));
}

json::object LspClient::wait_response(int64_t id) {
  auto deadline = Clock::now() + kDefaultTimeout;
  for (;;) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      const json::value* got = it->if_contains("id");
      if (got != nullptr && got->is_int64() && got->get_int64() == id && !it->contains("method")) {
        json::object found = std::move(*it);
        queue_.erase(it);
        return found;
      }
    }
    if (!pump(deadline)) throw std::runtime_error("no response for id " + std::to_string(id));
  }
}

json::object LspClient::wait_notification(std::string_view method) {
  auto deadline = Clock::now() + kDefaultTimeout;
  for (;;) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      const json::value* got = it->if_contains("method");
      if (got != nullptr && got->is_string() && got->get_string() == method &&
          !it->contains("id")) {
        json::object found = std::move(*it);
        queue_.erase(it);
        return found;
      }
    }
    if (!pump(deadline)) throw std::runtime_error("no notification " + std::string(method));
  }
}

std::optional<json::object> LspClient::next_message(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (queue_.empty()) {
    if (!pump(deadline)) return std::nullopt;
  }
  json::object front = std::move(queue_.front());
  queue_.pop_front();
  return front;
}

json::object LspClient::initialize() {
  json::object answer = request(
      "initialize",
      json::object{{"processId", nullptr}, {"rootUri", nullptr}, {"capabilities", json::object{}}});
  notify("initialized");
  wait_notification("window/logMessage");
  return answer;
}

json::object LspClient::open_document(std::string_view uri, std::string_view text) {
  notify("textDocument/didOpen",
         json::object{
             {"textDocument",
              json::object{
                  {"uri", uri}, {"languageId", "quibfile"}, {"version", 1}, {"text", text}}}});
  return wait_notification("textDocument/publishDiagnostics");
}

bool LspClient::pump(Clock::time_point deadline) {
  for (;;) {
    if (auto body = take_message(out_bytes_)) {
      queue_.push_back(json::parse(*body).as_object());
      return true;
    }
    if (stdout_ended_) return false;
    pollfd fds[2] = {{stdout_fd_, POLLIN, 0}, {stderr_ended_ ? -1 : stderr_fd_, POLLIN, 0}};
    int ready = poll(fds, 2, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (fds[1].revents != 0) drain_stderr();
    if (fds[0].revents != 0) {
      char buffer[65536];
      ssize_t n = read(stdout_fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        stdout_ended_ = true;
      } else {
        out_bytes_.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
}

void LspClient::drain_stderr() {
  char buffer[4096];
  ssize_t n = read(stderr_fd_, buffer, sizeof buffer);
  if (n > 0) {
    err_bytes_.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    stderr_ended_ = true;
  }
}

void LspClient::close_stdin() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  stdin_fd_ = -1;
}

int LspClient::wait_exit(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!exit_status_) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      break;
    }
    if (Clock::now() >= deadline) throw std::runtime_error("server did not exit");
    // Keep the pipes drained so a server that is still writing can finish.
    pump(std::min(deadline, Clock::now() + std::chrono::milliseconds(10)));
  }
  return *exit_status_;
}

std::string LspClient::stderr_text() {
  pollfd fd = {stderr_fd_, POLLIN, 0};
  while (!stderr_ended_ && poll(&fd, 1, 0) > 0) drain_stderr();
  return err_bytes_;
}

}  // namespace quib::lsp::testing
