// Base protocol framing: byte sources and sinks, and the reader that cuts a byte stream into
// `Content-Length`-framed message bodies. Knows nothing of JSON or of what a body means.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "lsp/large_buffers.h"

namespace quib::lsp {

// Where message bytes come from: standard input in the server, memory in tests and benches.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Blocks until at least one byte is available; returns how many were stored, 0 at end of
  // input (after which every call returns 0).
  virtual std::size_t read_some(std::span<char> buffer) = 0;
  // Makes a blocked or later `read_some` return 0. Safe to call from any thread.
  virtual void interrupt() {}
};

// Where framed messages go. Called from one thread only (the writer).
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes every byte; returns false once the peer is gone (nothing more will be written).
  virtual bool write_all(std::string_view bytes) = 0;
  // Writes `first` then `second`, as one write where the sink can.
  virtual bool write_all(std::string_view first, std::string_view second) {
    return write_all(first) && write_all(second);
  }
};

// Reads a file descriptor; `interrupt` wakes a blocked read through a self-pipe, so the
// reader thread can be joined when `exit` arrives while the client keeps its end open.
class FdByteSource final : public ByteSource {
 public:
  explicit FdByteSource(int fd);
  ~FdByteSource() override;
  FdByteSource(const FdByteSource&) = delete;
  FdByteSource& operator=(const FdByteSource&) = delete;

  std::size_t read_some(std::span<char> buffer) override;
  void interrupt() override;

 private:
  int fd_;
  int wake_read_ = -1;
  int wake_write_ = -1;
};

class FdByteSink final : public ByteSink {
 public:
  explicit FdByteSink(int fd) : fd_(fd) {}
  bool write_all(std::string_view bytes) override;
  bool write_all(std::string_view first, std::string_view second) override;

 private:
  int fd_;
};

// The header block of an outbound message whose body has `body_bytes` bytes.
std::string frame_header(std::size_t body_bytes);
// The header block and body of one outbound message.
std::string frame(std::string_view body);

// A header block that cannot frame a body: no `Content-Length`, a length that is not a
// non-negative decimal of at most `kMaxBodyBytes`, or a block that never ends.
struct FrameError {
  std::string detail;
};
struct EndOfInput {};
using Frame = std::variant<std::string, FrameError, EndOfInput>;

// Cuts a byte stream into message bodies. Header lines may end in CRLF or a bare LF, names are
// case-insensitive, blank lines between messages are skipped and unknown headers ignored.
// After a `FrameError`, or when told through `resync_after_bad_body` that a body was not what
// the header promised, the reader skips ahead to the next `Content-Length` it can find, so one
// damaged message costs that message only.
// Invariant: bytes before `start_` have been consumed; nothing is ever read twice.
class MessageReader {
 public:
  static constexpr std::size_t kMaxBodyBytes = std::size_t{1} << 30;
  static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

  // Large bodies are read into storage taken from `spares`, and given back there.
  explicit MessageReader(ByteSource& source, LargeBuffers& spares = large_buffers())
      : source_(source), spares_(spares) {}

  // The next body, a framing error (already recovered from), or the end of input. A stream
  // that ends inside a header block or a body is the end of input.
  Frame next();

  // `body`, the last body returned, was not valid JSON, so its length may have been wrong.
  // If it holds the start of another header, the length overshot into the next message: those
  // bytes go back to the stream. Either way, reading resumes at the next `Content-Length`.
  void resync_after_bad_body(std::string_view body);

  // The caller is done with `body`, a body `next` returned: its storage goes to the spares and
  // serves the next large body, so a stream of large messages reuses the same pages instead of
  // faulting in fresh ones.
  void give_back(std::string body) { spares_.give(std::move(body)); }

  // Bytes of memory the reader holds for its buffer, and the spare storage it may take; the
  // transport fuzzer bounds them.
  std::size_t buffer_capacity() const { return buffer_.capacity() + spares_.kept_capacity(); }

 private:
  // Reads more bytes into the buffer (at most one chunk); false at end of input.
  bool fill();
  // The body of `length` bytes that starts at buffer offset `at`, consumed; nothing when the
  // input ends first. A body larger than what is buffered is read into its own string (the
  // storage given back last, while it fits), so a large document is copied out of the pipe
  // once (plus the string's regrowth). The string grows with the bytes that arrive, never to
  // the announced length at once.
  std::optional<std::string> take_body(std::size_t at, std::size_t length);
  // Drops the consumed prefix once it is worth the copy.
  void compact();

  ByteSource& source_;
  std::string buffer_;
  LargeBuffers& spares_;
  std::size_t start_ = 0;
  // After a framing error: skip bytes until a `Content-Length` header appears.
  bool resyncing_ = false;
  bool ended_ = false;
};

}  // namespace quib::lsp
