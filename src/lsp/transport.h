// The server side of a protocol connection: reader and writer threads, the lifecycle gate, the
// worker pool for requests and the serve loop. Generic: knows method names only for lifecycle.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "lsp/transport_framing.h"
#include "lsp/transport_jsonrpc.h"
#include "lsp/transport_router.h"

namespace quib::lsp {

// Every message to the client goes through here: bodies are framed and queued by any thread,
// and one writer thread writes them to the sink in queue order. Once a write fails (the editor
// has gone) the rest is dropped; nothing blocks on a dead pipe.
class Outbox {
 public:
  explicit Outbox(ByteSink& sink);
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Each returns once the message is queued, never waiting for the write.
  // A body in two parts, written one after the other; neither is copied.
  void send(std::string body_start, std::string body_rest);
  void notify(std::string_view method, JsonText params);
  // Writes what is queued, then stops the writer. Later sends are dropped.
  void close();

 private:
  void write_loop();

  ByteSink& sink_;
  std::mutex mutex_;
  std::condition_variable ready_;
  // The header block with the body's start, and the rest of the body.
  struct Framed {
    std::string head;
    std::string rest;
  };
  std::deque<Framed> queue_;
  bool closed_ = false;
  std::thread writer_;
};

// A fixed set of threads that run requests, with a limit on messages in progress shared with
// the caller's own work (`run_here`). A queued job has not started and can still be cancelled.
// Invariant: at most `max_in_progress` jobs and `run_here` calls run at any moment.
class WorkerPool {
 public:
  WorkerPool(unsigned workers, unsigned max_in_progress);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void submit(json::value id, std::function<void()> job);
  // True when the job with this id had not started: it is dropped and will never run.
  bool cancel(const json::value& id);
  // Runs `work` on the calling thread once a slot is free, counted against the limit.
  void run_here(const std::function<void()>& work);
  // Runs every queued job, then joins the threads. Idempotent.
  void finish();

 private:
  struct Job {
    json::value id;
    std::function<void()> run;
  };
  void work_loop();

  const unsigned max_in_progress_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  unsigned in_progress_ = 0;
  bool finishing_ = false;
  std::vector<std::thread> threads_;
};

struct TransportOptions {
  // 0: one worker per available processor.
  unsigned workers = 0;
  unsigned max_in_progress = 4;
};

// One connection over a byte source and sink. `serve` runs the loop on the calling thread:
// - a reader thread frames and decodes input into a queue, so the loop never blocks on a pipe;
// - notifications run on the loop's thread in arrival order (document sync relies on this);
// - a request's handler runs on the loop's thread too, in arrival order, and makes the job that
//   answers it (see MethodTable::RequestHandler); the jobs run on the pool and may be answered
//   in any order.
// Lifecycle: until `initialize` has been answered, other requests get -32002 and notifications
// other than `exit` are dropped; after `shutdown`, requests get -32600 and notifications are
// still handled; `exit` or end of input ends the loop.
class Transport {
 public:
  Transport(ByteSource& in, ByteSink& out, TransportOptions options = {});
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  Outbox& outbox() { return outbox_; }

  // Tells `watcher` how each message's decoding goes (see LongStringWatcher). Call before
  // `serve`; the watcher must outlive it.
  void watch_long_strings(LongStringWatcher& watcher) { watcher_ = &watcher; }

  // Returns after `exit` or end of input, once every accepted request has been answered and
  // all output has been written. Call once.
  void serve(const MethodTable& methods);

 private:
  enum class State { Uninitialised, Running, ShutDown };

  void read_loop();
  // False when the loop should end.
  bool handle(const MethodTable& methods, Incoming message);
  void handle_request(const MethodTable& methods, Request request);
  void handle_notification(const MethodTable& methods, Notification notification);
  void answer(const json::value& id, RequestOutcome outcome);

  ByteSource& in_;
  LongStringWatcher* watcher_ = nullptr;
  Outbox outbox_;
  WorkerPool pool_;
  State state_ = State::Uninitialised;

  // Decoded messages from the reader thread. `inbound_ended_`: the input has ended after the
  // queued messages; `inbound_closed_`: the loop is over and the reader should stop.
  std::mutex inbound_mutex_;
  std::condition_variable inbound_ready_;
  std::deque<Incoming> inbound_;
  bool inbound_ended_ = false;
  bool inbound_closed_ = false;
  std::thread reader_;
};

}  // namespace quib::lsp
