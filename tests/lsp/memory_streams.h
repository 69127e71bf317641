// In-memory byte sources and sinks for driving the transport without a process or pipes.
#pragma once

#include <boost/json.hpp>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "lsp/transport_framing.h"

namespace quib::lsp::testing {

// Hands out the given chunks one per read (a chunk larger than the buffer is split), then end
// of input. Lets a test decide exactly where reads split the stream.
class ChunkedSource final : public ByteSource {
 public:
  explicit ChunkedSource(std::vector<std::string> chunks) : chunks_(chunks.begin(), chunks.end()) {}

  std::size_t read_some(std::span<char> buffer) override {
    while (!chunks_.empty() && chunks_.front().empty()) chunks_.pop_front();
    if (chunks_.empty()) return 0;
    std::string& chunk = chunks_.front();
    std::size_t n = std::min(buffer.size(), chunk.size());
    std::memcpy(buffer.data(), chunk.data(), n);
    chunk.erase(0, n);
    return n;
  }

 private:
  std::deque<std::string> chunks_;
};

// A source the test feeds while the transport runs on another thread; reads block until
// bytes arrive or the test calls `end`.
class FeedSource final : public ByteSource {
 public:
  void feed(std::string bytes) {
    std::lock_guard lock(mutex_);
    pending_ += bytes;
    changed_.notify_all();
  }
  void end() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }
  std::size_t read_some(std::span<char> buffer) override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ended_ || !pending_.empty(); });
    std::size_t n = std::min(buffer.size(), pending_.size());
    std::memcpy(buffer.data(), pending_.data(), n);
    pending_.erase(0, n);
    return n;
  }
  void interrupt() override { end(); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;
  bool ended_ = false;
};

// Collects what the writer thread writes; `messages` decodes it back into JSON values.
class MemorySink final : public ByteSink {
 public:
  bool write_all(std::string_view bytes) override {
    std::lock_guard lock(mutex_);
    bytes_ += bytes;
    changed_.notify_all();
    return true;
  }

  std::vector<boost::json::value> messages() {
    std::string copy;
    {
      std::lock_guard lock(mutex_);
      copy = bytes_;
    }
    ChunkedSource source({copy});
    MessageReader reader(source);
    std::vector<boost::json::value> out;
    for (;;) {
      Frame frame = reader.next();
      auto* body = std::get_if<std::string>(&frame);
      if (body == nullptr) return out;
      out.push_back(boost::json::parse(*body));
    }
  }

  // Waits until `predicate(messages())` holds; false on timeout.
  template <class Predicate>
  bool wait_for(Predicate predicate, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::size_t seen;
      {
        std::lock_guard lock(mutex_);
        seen = bytes_.size();
      }
      if (predicate(messages())) return true;
      std::unique_lock lock(mutex_);
      if (!changed_.wait_until(lock, deadline, [&] { return bytes_.size() != seen; })) {
        return false;
      }
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string bytes_;
};

}  // namespace quib::lsp::testing
