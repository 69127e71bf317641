// LspClient: drives the real quib-lsp binary over pipes, as an editor would, for end-to-end
// tests. Owns the child process; knows the wire format but nothing of Quibfile.
#pragma once

#include <sys/types.h>

#include <boost/json.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace quib::lsp::testing {

namespace json = boost::json;

// Every wait throws std::runtime_error on timeout (a failing test, never a hang). Messages
// read while waiting for something else are kept and found by later waits, so the order in
// which a test asks does not have to match the order in which the server writes.
class LspClient {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

  // Starts the server with empty environment and no arguments.
  LspClient();
  // Kills the server if it is still running.
  ~LspClient();
  LspClient(const LspClient&) = delete;
  LspClient& operator=(const LspClient&) = delete;

  // Sends a request with a fresh integer id and waits for its response (the whole message,
  // with `result` or `error`).
  json::object request(std::string_view method, json::value params = json::object{});
  // Sends a request without waiting; returns its id.
  int64_t send_request(std::string_view method, json::value params = json::object{});
  json::object wait_response(int64_t id);
  void notify(std::string_view method, json::value params = json::object{});
  // Raw bytes, for framing tests; `send_body` adds the header.
  void send_raw(std::string_view bytes);
  void send_body(std::string_view body);

  // The next notification with this method; earlier ones are consumed in order.
  json::object wait_notification(std::string_view method);
  // The next message of any kind not yet consumed, or nothing when none arrives in time.
  std::optional<json::object> next_message(std::chrono::milliseconds timeout);

  // initialize (answer returned), then initialized and its greeting consumed.
  json::object initialize();
  // didOpen of `text` at `uri` (version 1), then its diagnostics notification, returned.
  json::object open_document(std::string_view uri, std::string_view text);

  void close_stdin();
  // Waits for the process to end; its exit status, or -(signal number) if it was killed.
  int wait_exit(std::chrono::milliseconds timeout = kDefaultTimeout);
  // What the server wrote on stderr so far.
  std::string stderr_text();

 private:
  // Reads whatever is available within the deadline into the message queue; false when the
  // deadline passed or the output ended without a new message.
  bool pump(std::chrono::steady_clock::time_point deadline);
  void drain_stderr();

  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  int64_t next_id_ = 1;
  bool stdout_ended_ = false;
  bool stderr_ended_ = false;
  std::optional<int> exit_status_;
  std::string out_bytes_;
  std::string err_bytes_;
  std::deque<json::object> queue_;
};

}  // namespace quib::lsp::testing
