// Base protocol framing over file descriptors and in the reader's buffer. No JSON here.
#include "lsp/transport_framing.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace quib::lsp {

namespace {

constexpr std::string_view kContentLength = "content-length";
constexpr std::size_t kReadChunk = 64 * 1024;

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignore_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == y; });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Position of the first `Content-Length` (any case) at or after `from`, or npos.
std::size_t find_content_length(std::string_view text, std::size_t from) {
  auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(std::min(from, text.size())),
                        text.end(), kContentLength.begin(), kContentLength.end(),
                        [](char x, char y) { return lower(x) == y; });
  return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

// A decimal of at most kMaxBodyBytes, digits only: no sign, no exponent, no blanks inside.
std::optional<std::size_t> parse_length(std::string_view value) {
  if (value.empty() || value.size() > 10) return std::nullopt;
  std::size_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  if (n > MessageReader::kMaxBodyBytes) return std::nullopt;
  return n;
}

}  // namespace

FdByteSource::FdByteSource(int fd) : fd_(fd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) == 0) {
    wake_read_ = fds[0];
    wake_write_ = fds[1];
  }
}

FdByteSource::~FdByteSource() {
  if (wake_read_ >= 0) close(wake_read_);
  if (wake_write_ >= 0) close(wake_write_);
}

std::size_t FdByteSource::read_some(std::span<char> buffer) {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
  for (;;) {
    int ready = poll(fds, wake_read_ >= 0 ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (wake_read_ >= 0 && fds[1].revents != 0) return 0;
    ssize_t n = read(fd_, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
}

void FdByteSource::interrupt() {
  if (wake_write_ >= 0) {
    char byte = 0;
    [[maybe_unused]] ssize_t ignored = write(wake_write_, &byte, 1);
  }
}

bool FdByteSink::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;  // EPIPE once the editor has gone (SIGPIPE is ignored)
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool FdByteSink::write_all(std::string_view first, std::string_view second) {
  while (!first.empty()) {
    iovec parts[2] = {{const_cast<char*>(first.data()), first.size()},
                      {const_cast<char*>(second.data()), second.size()}};
    ssize_t n = writev(fd_, parts, 2);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    auto written = static_cast<std::size_t>(n);
    if (written < first.size()) {
      first.remove_prefix(written);
    } else {
      second.remove_prefix(written - first.size());
      first = {};
    }
  }
  return write_all(second);
}

std::string frame_header(std::size_t body_bytes) {
  return "Content-Length: " + std::to_string(body_bytes) + "\r\n\r\n";
}

std::string frame(std::string_view body) {
  std::string out = frame_header(body.size());
  out.append(body);
  return out;
}

// Grows the buffer by one read's worth only, never by what a header announces: a client that
// declares a huge body and sends a few bytes must not make the server allocate for it.
bool MessageReader::fill() {
  if (ended_) return false;
  std::size_t old = buffer_.size();
  buffer_.resize(old + kReadChunk);
  std::size_t n = source_.read_some(std::span<char>(buffer_.data() + old, kReadChunk));
  buffer_.resize(old + n);
  if (n == 0) ended_ = true;
  return n != 0;
}

std::optional<std::string> MessageReader::take_body(std::size_t at, std::size_t length) {
  std::size_t buffered = std::min(buffer_.size() - at, length);
  if (buffered == length) {
    start_ = at + length;
    return buffer_.substr(at, length);
  }
  // The rest of the body goes from the source straight into its own string, never more than
  // the body, so the stream stays at the message boundary. The string doubles as bytes arrive
  // instead of taking the announced length at once: a header may announce 1 GiB and send
  // nothing more, and that must not cost the server 1 GiB. Once a quarter of the body has
  // arrived, the string takes the announced length: the reader then never holds more than four
  // times what it was sent (or one read more), and a large body skips the last doubling (a 4.2 MB
  // body was read through a 4 MiB string that was filled with zeros, copied and thrown away).
  // A body given back earlier lends its storage, already in memory, up to its capacity.
  std::string body = spares_.take();
  body.assign(buffer_, at, buffered);
  buffer_.clear();
  start_ = 0;
  for (std::size_t have = buffered; have < length;) {
    if (body.size() == have) {
      const std::size_t next = length <= body.capacity() || length / 4 <= have
                                   ? length
                                   : std::min(length, std::max(2 * have, have + kReadChunk));
      if (next <= body.capacity()) {
        body.resize(next);
      } else {
        // A new string of the next size (growing in place may double the capacity past the
        // body's length, and a large body would then hold twice its size), with a sixteenth
        // to spare once it holds the whole body: the next version of the same document, a
        // little longer, then fits the storage this one gives back.
        std::string grown;
        grown.reserve(next == length ? next + next / 16 : next);
        grown.resize(next);
        std::memcpy(grown.data(), body.data(), have);
        body = std::move(grown);
      }
    }
    std::size_t n =
        ended_ ? 0 : source_.read_some(std::span<char>(body.data() + have, body.size() - have));
    if (n == 0) {
      ended_ = true;
      return std::nullopt;
    }
    have += n;
  }
  return body;
}

void MessageReader::compact() {
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > kReadChunk && start_ * 2 > buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
}

Frame MessageReader::next() {
  for (;;) {
    compact();
    if (resyncing_) {
      std::size_t at = find_content_length(buffer_, start_);
      if (at != std::string::npos) {
        start_ = at;
        resyncing_ = false;
      } else {
        // Keep a tail that may be the beginning of a header split across reads.
        start_ = std::max(
            start_, buffer_.size() - std::min(buffer_.size() - start_, kContentLength.size() - 1));
        if (!fill()) return EndOfInput{};
        continue;
      }
    }

    // Scan the header block from `start_`; restart the scan after each read.
    std::size_t pos = start_;
    std::size_t block_start = start_;
    bool have_header = false;
    bool bad = false;
    std::optional<std::size_t> length;
    std::string detail;
    // Where skipping resumes after a bad block: past a bad `Content-Length` line, so it is not
    // found again; otherwise just past the block start, so that a header glued to the end of
    // garbage is still found.
    std::optional<std::size_t> resume;
    bool complete = false;
    while (!complete) {
      std::size_t nl = buffer_.find('\n', pos);
      if (nl == std::string::npos) break;
      std::string_view line(buffer_.data() + pos, nl - pos);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      pos = nl + 1;
      if (line.empty()) {
        if (have_header) {
          complete = true;
        } else {
          start_ = block_start = pos;  // a stray blank line between messages
        }
        continue;
      }
      have_header = true;
      std::size_t colon = line.find(':');
      std::string_view name = trim(line.substr(0, colon));
      if (colon == std::string_view::npos || !equals_ignore_case(name, kContentLength)) continue;
      std::optional<std::size_t> value = parse_length(trim(line.substr(colon + 1)));
      if (!value) {
        bad = true;
        resume = pos;
        detail = "invalid Content-Length '" + std::string(trim(line.substr(colon + 1))) + "'";
      } else if (length && *length != *value) {
        bad = true;
        resume = pos;
        detail = "conflicting Content-Length headers";
      } else {
        length = value;
      }
    }

    if (!complete) {
      if (buffer_.size() - block_start > kMaxHeaderBytes) {
        resyncing_ = true;
        start_ = block_start + 1;
        return FrameError{"header block too long"};
      }
      if (!fill()) return EndOfInput{};
      continue;
    }
    if (!bad && !length) {
      bad = true;
      detail = "missing Content-Length header";
    }
    if (bad) {
      resyncing_ = true;
      start_ = resume.value_or(block_start + 1);
      return FrameError{std::move(detail)};
    }

    std::optional<std::string> body = take_body(pos, *length);
    if (!body) return EndOfInput{};
    return std::move(*body);
  }
}

void MessageReader::resync_after_bad_body(std::string_view body) {
  // A declared length that fell short leaves the body's tail in the stream: skip to the next
  // header rather than read that tail as one.
  resyncing_ = true;
  std::size_t at = find_content_length(body, 0);
  if (at == std::string_view::npos) {
    // The overshoot may have cut the next header's name in two: give back a tail of the body
    // only when it and the bytes after it spell the start of `Content-Length`.
    std::string_view rest(buffer_.data() + start_, buffer_.size() - start_);
    for (std::size_t n = std::min(body.size(), kContentLength.size() - 1); n > 0; --n) {
      std::string joined(body.substr(body.size() - n));
      joined.append(rest.substr(0, kContentLength.size() - n));
      std::size_t k = std::min(joined.size(), kContentLength.size());
      if (equals_ignore_case(std::string_view(joined).substr(0, k), kContentLength.substr(0, k))) {
        at = body.size() - n;
        break;
      }
    }
    if (at == std::string_view::npos) return;
  }
  buffer_.replace(0, start_, body.substr(at));
  start_ = 0;
}

}  // namespace quib::lsp
