// Threads, queues and the lifecycle gate of one connection. Handlers are opaque here: what a
// method does is decided by the method table the server hands to `serve`.
#include "lsp/transport.h"

#include <algorithm>

#include "lsp/large_buffers.h"
#include "syntax/assert.h"

namespace quib::lsp {

namespace {

constexpr std::string_view kInitialize = "initialize";
constexpr std::string_view kShutdown = "shutdown";
constexpr std::string_view kExit = "exit";
constexpr std::string_view kCancelRequest = "$/cancelRequest";

}  // namespace

Outbox::Outbox(ByteSink& sink) : sink_(sink), writer_([this] { write_loop(); }) {}

Outbox::~Outbox() {
  close();
}

void Outbox::send(std::string body_start, std::string body_rest) {
  Framed framed{frame_header(body_start.size() + body_rest.size()), std::move(body_rest)};
  framed.head.append(body_start);
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    queue_.push_back(std::move(framed));
  }
  ready_.notify_one();
}

void Outbox::notify(std::string_view method, JsonText params) {
  params.text.append(kBodyEnd);
  send(notification_opening(method), std::move(params.text));
}

void Outbox::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_one();
  if (writer_.joinable()) writer_.join();
}

void Outbox::write_loop() {
  bool sink_alive = true;
  std::unique_lock lock(mutex_);
  for (;;) {
    ready_.wait(lock, [this] { return closed_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Framed framed = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    if (sink_alive) sink_alive = sink_.write_all(framed.head, framed.rest);
    // A large answer's storage serves the next large body, text or answer.
    large_buffers().give(std::move(framed.rest));
    lock.lock();
  }
}

WorkerPool::WorkerPool(unsigned workers, unsigned max_in_progress)
    : max_in_progress_(max_in_progress) {
  QUIB_ASSERT(workers > 0 && max_in_progress > 0, "a worker pool needs workers and slots");
  threads_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { work_loop(); });
}

WorkerPool::~WorkerPool() {
  finish();
}

void WorkerPool::submit(json::value id, std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    QUIB_ASSERT(!finishing_, "no job may be submitted to a finishing pool");
    queue_.push_back(Job{std::move(id), std::move(job)});
  }
  changed_.notify_all();
}

bool WorkerPool::cancel(const json::value& id) {
  std::lock_guard lock(mutex_);
  auto it =
      std::find_if(queue_.begin(), queue_.end(), [&](const Job& job) { return job.id == id; });
  if (it == queue_.end()) return false;
  queue_.erase(it);
  return true;
}

void WorkerPool::run_here(const std::function<void()>& work) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return in_progress_ < max_in_progress_; });
    ++in_progress_;
  }
  work();
  {
    std::lock_guard lock(mutex_);
    --in_progress_;
  }
  changed_.notify_all();
}

void WorkerPool::finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void WorkerPool::work_loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return (!queue_.empty() && in_progress_ < max_in_progress_) || (finishing_ && queue_.empty());
    });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    ++in_progress_;
    lock.unlock();
    job.run();
    job.run = nullptr;  // release captured params outside the lock
    lock.lock();
    --in_progress_;
    changed_.notify_all();
  }
}

Transport::Transport(ByteSource& in, ByteSink& out, TransportOptions options)
    : in_(in),
      outbox_(out),
      pool_(options.workers != 0 ? options.workers
                                 : std::max(1u, std::thread::hardware_concurrency()),
            options.max_in_progress) {}

Transport::~Transport() {
  {
    std::lock_guard lock(inbound_mutex_);
    inbound_closed_ = true;
  }
  in_.interrupt();
  if (reader_.joinable()) reader_.join();
}

void Transport::read_loop() {
  MessageReader reader(in_);
  for (;;) {
    Frame frame = reader.next();
    std::optional<Incoming> message;
    if (auto* body = std::get_if<std::string>(&frame)) {
      size_t rewritten = 0;
      message = decode_message_in_place(*body, rewritten, watcher_);
      auto* bad = std::get_if<InvalidMessage>(&*message);
      // The next header of a body whose length overshot lies past the end of its JSON, so past
      // any text unescaped over the body's start.
      if (bad != nullptr && bad->parse_failed) {
        reader.resync_after_bad_body(std::string_view(*body).substr(rewritten));
      }
      // Empty when a document text took its storage over.
      reader.give_back(std::move(*body));
    } else if (std::holds_alternative<FrameError>(frame)) {
      message = InvalidMessage{nullptr, {ErrorCode::InvalidRequest, "Invalid request"}};
    }
    {
      std::lock_guard lock(inbound_mutex_);
      if (inbound_closed_) return;
      if (message) {
        inbound_.push_back(std::move(*message));
      } else {
        inbound_ended_ = true;
      }
    }
    inbound_ready_.notify_one();
    if (!message) return;
  }
}

void Transport::serve(const MethodTable& methods) {
  QUIB_ASSERT(!reader_.joinable(), "a transport serves only once");
  reader_ = std::thread([this] { read_loop(); });
  for (;;) {
    Incoming message;
    {
      std::unique_lock lock(inbound_mutex_);
      inbound_ready_.wait(lock, [this] { return inbound_ended_ || !inbound_.empty(); });
      if (inbound_.empty()) break;
      message = std::move(inbound_.front());
      inbound_.pop_front();
    }
    if (!handle(methods, std::move(message))) break;
  }
  {
    std::lock_guard lock(inbound_mutex_);
    inbound_closed_ = true;
  }
  in_.interrupt();
  reader_.join();
  pool_.finish();
  outbox_.close();
}

bool Transport::handle(const MethodTable& methods, Incoming message) {
  if (auto* request = std::get_if<Request>(&message)) {
    handle_request(methods, std::move(*request));
  } else if (auto* notification = std::get_if<Notification>(&message)) {
    if (notification->method == kExit) return false;
    handle_notification(methods, std::move(*notification));
  } else if (auto* invalid = std::get_if<InvalidMessage>(&message)) {
    outbox_.send(encode_error(invalid->id, invalid->error), {});
  }
  return true;
}

void Transport::handle_request(const MethodTable& methods, Request request) {
  if (state_ == State::ShutDown) {
    return answer(request.id, ResponseError{ErrorCode::InvalidRequest, "Invalid request"});
  }
  bool initialize = request.method == kInitialize;
  if (state_ == State::Uninitialised && !initialize) {
    return answer(request.id,
                  ResponseError{ErrorCode::ServerNotInitialized, "Server not initialized"});
  }
  if (state_ == State::Running && initialize) {
    // The protocol allows one `initialize` per connection.
    return answer(request.id, ResponseError{ErrorCode::InvalidRequest, "Invalid request"});
  }
  const MethodTable::RequestHandler* handler = methods.request(request.method);
  if (handler == nullptr) {
    return answer(request.id, ResponseError{ErrorCode::MethodNotFound, "Method not found"});
  }

  // Made here, in message order: the job sees the server as the messages before it left it.
  MethodTable::RequestJob job = (*handler)(request.params);
  // The two lifecycle requests change what the next message may do, so they run here, in
  // order, and the state changes before the next message is looked at.
  if (initialize || request.method == kShutdown) {
    RequestOutcome outcome;
    pool_.run_here([&] { outcome = job(); });
    bool succeeded = std::holds_alternative<JsonText>(outcome);
    answer(request.id, std::move(outcome));
    if (succeeded) state_ = initialize ? State::Running : State::ShutDown;
    return;
  }

  json::value id = request.id;
  pool_.submit(std::move(id), [this, id = request.id, job = std::move(job)] { answer(id, job()); });
}

void Transport::handle_notification(const MethodTable& methods, Notification notification) {
  if (state_ == State::Uninitialised) return;
  if (notification.method == kCancelRequest) {
    // Only a request still waiting in the queue can be cancelled; one that has started runs
    // to its normal answer. Malformed cancellations are ignored like any bad notification.
    const json::object* params = notification.params.if_object();
    const json::value* id = params != nullptr ? params->if_contains("id") : nullptr;
    if (id != nullptr && pool_.cancel(*id)) {
      answer(*id, ResponseError{ErrorCode::RequestCancelled, "Request cancelled"});
    }
    return;
  }
  const MethodTable::NotificationHandler* handler = methods.notification(notification.method);
  if (handler == nullptr) return;
  pool_.run_here(
      [&] { (*handler)(std::move(notification.params), std::move(notification.detached)); });
}

void Transport::answer(const json::value& id, RequestOutcome outcome) {
  if (auto* result = std::get_if<JsonText>(&outcome)) {
    result->text.append(kBodyEnd);
    outbox_.send(result_opening(id), std::move(result->text));
  } else {
    outbox_.send(encode_error(id, std::get<ResponseError>(outcome)), {});
  }
}

}  // namespace quib::lsp
