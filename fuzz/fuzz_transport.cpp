// Fuzzes the transport's reading side: arbitrary bytes, handed over in uneven reads, go through
// the message reader and the JSON-RPC decoder as the server's reader thread drives them. Never
// crashes or loops, and the reader holds no more than the bytes it was given plus one read.
// Decoded messages are written back and must decode to what they were, detaching long params
// strings changes nothing once they are put back, and a watcher of the decoding is told only
// what holds.
#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "fuzz_check.h"
#include "lsp/transport_body.h"
#include "lsp/transport_framing.h"
#include "lsp/transport_jsonrpc.h"

namespace quib::fuzz {
namespace {

using namespace quib::lsp;

// Hands out the input in reads whose sizes follow a pattern picked by the input's length, so
// headers and bodies are split at many different points.
class SplitSource final : public ByteSource {
 public:
  explicit SplitSource(std::string_view bytes) : bytes_(bytes), step_(1 + bytes.size() % 61) {}

  std::size_t read_some(std::span<char> buffer) override {
    // Every fourth read takes everything that fits, as a pipe with a fast writer would.
    const std::size_t want = (++reads_ % 4 == 0) ? buffer.size() : step_ + reads_ % 3;
    const std::size_t n = std::min({want, buffer.size(), bytes_.size() - delivered_});
    std::memcpy(buffer.data(), bytes_.data() + delivered_, n);
    delivered_ += n;
    return n;
  }

  std::size_t delivered() const { return delivered_; }

 private:
  std::string_view bytes_;
  std::size_t step_;
  std::size_t delivered_ = 0;
  std::size_t reads_ = 0;
};

// Whether every number in `value` is finite. A number too large for a double (1E999) reads as
// infinity, and 0E444 as NaN; JSON has no way to write either, so params holding one cannot
// be written back, by this server or any other.
bool finite_numbers(const json::value& value) {
  if (const double* number = value.if_double()) return std::isfinite(*number);
  if (const json::array* array = value.if_array()) {
    return std::all_of(array->begin(), array->end(), finite_numbers);
  }
  if (const json::object* object = value.if_object()) {
    return std::all_of(object->begin(), object->end(), [](const json::key_value_pair& member) {
      return finite_numbers(member.value());
    });
  }
  return true;
}

// What the server writes for a decoded message must read back as the same message: a result
// or an error for a request's id, a notification with its method and params (when they can be
// written at all).
void check_round_trip(const Incoming& message) {
  if (const auto* request = std::get_if<Request>(&message)) {
    FUZZ_CHECK(request->id.is_string() || request->id.is_int64() || request->id.is_uint64(),
               "a request id is a string or an integer");
    if (!finite_numbers(request->params)) return;
    const std::string result =
        result_opening(request->id) + json::serialize(request->params) + std::string(kBodyEnd);
    FUZZ_CHECK(std::holds_alternative<ClientResponse>(decode_message(result)),
               "an encoded result decodes as a response");
    FUZZ_CHECK(std::holds_alternative<ClientResponse>(decode_message(
                   encode_error(request->id, {ErrorCode::InvalidParams, request->method}))),
               "an encoded error decodes as a response");
  } else if (const auto* notification = std::get_if<Notification>(&message);
             notification != nullptr && finite_numbers(notification->params)) {
    const json::value params =
        notification->params.is_null() ? json::value(json::object()) : notification->params;
    const Incoming again = decode_message(notification_opening(notification->method) +
                                          json::serialize(params) + std::string(kBodyEnd));
    const auto* decoded = std::get_if<Notification>(&again);
    FUZZ_CHECK(decoded != nullptr, "an encoded notification decodes as one");
    FUZZ_CHECK(decoded->method == notification->method && decoded->params == params,
               "an encoded notification keeps its method and params");
  }
}

// Equal JSON values, NaN included: a number such as 0E444 reads as NaN, which equals nothing.
bool same_json(const json::value& a, const json::value& b) {
  return json::serialize(a) == json::serialize(b);
}

// Holds the decoding to what a watcher may rely on: each body begun and ended once, at most one
// string watched, its count of final bytes never falling nor passing the storage, those bytes
// never rewritten before the body ends, and the text handed over (in the storage itself or in
// the copy it is said to be moved to) exactly those bytes.
class CheckingWatcher final : public LongStringWatcher {
 public:
  void body_begins() override {
    FUZZ_CHECK(state_ == State::Idle, "a body begins once");
    state_ = State::Body;
  }
  void string_begins(const std::string& storage) override {
    FUZZ_CHECK(state_ == State::Body && storage_ == nullptr, "one string is watched per body");
    storage_ = &storage;
    storage_data_ = storage.data();
  }
  void string_decoded(size_t bytes) override {
    FUZZ_CHECK(state_ == State::Body && storage_ != nullptr, "bytes are final inside a body");
    FUZZ_CHECK(bytes >= final_.size() && bytes <= storage_->size(),
               "the final count never falls and stays inside the storage");
    FUZZ_CHECK(std::string_view(storage_->data(), final_.size()) == final_,
               "bytes called final are never rewritten");
    final_.append(storage_->data() + final_.size(), bytes - final_.size());
  }
  void body_ends() override {
    FUZZ_CHECK(state_ == State::Body, "a body ends once, after it began");
    if (storage_) {
      FUZZ_CHECK(std::string_view(storage_->data(), final_.size()) == final_,
                 "bytes called final are never rewritten");
    }
    state_ = State::Ended;
  }
  void string_copied(const std::string& text) override {
    FUZZ_CHECK(state_ == State::Ended && storage_ != nullptr && copy_ == nullptr,
               "only a watched string is copied, once, after its body");
    copy_ = &text;
  }

  // After the parse: the text the watched string became, if it is among the detached ones.
  void check_handed_over(const DetachedStrings& detached) const {
    FUZZ_CHECK(state_ == State::Ended, "every body ends");
    for (const DetachedString& d : detached) {
      if (d.text.data() == (copy_ ? copy_->data() : storage_data_)) {
        FUZZ_CHECK(d.text == final_, "the text handed over is the bytes called final");
      }
    }
  }

 private:
  enum class State { Idle, Body, Ended };
  State state_ = State::Idle;
  const std::string* storage_ = nullptr;
  const char* storage_data_ = nullptr;
  const std::string* copy_ = nullptr;
  std::string final_;  // a copy of the bytes called final so far
};

// Long params strings are detached at any length: put back, they give the plain parse, and
// each pointer names an empty string in the params. Parsed in place, a body gives the same
// JSON and texts, or fails where the plain parse does with its unread bytes untouched.
void check_detached(std::string_view body) {
  json::error_code ec;
  const json::value plain = json::parse(body, ec);
  for (const size_t min_detached : {size_t{0}, size_t{3}}) {
    std::optional<ParsedBody> parsed = parse_body(body, min_detached);
    FUZZ_CHECK(parsed.has_value() == !ec, "a body parses exactly when plain JSON does");
    std::string copy(body);
    CheckingWatcher watcher;
    InPlaceParse in_place = parse_body_in_place(copy, min_detached, &watcher);
    if (in_place.parsed) watcher.check_handed_over(in_place.parsed->detached);
    FUZZ_CHECK(in_place.parsed.has_value() == parsed.has_value(),
               "a body parses in place exactly when it parses");
    if (!parsed) {
      FUZZ_CHECK(
          in_place.rewritten <= body.size() &&
              std::string_view(copy).substr(in_place.rewritten) == body.substr(in_place.rewritten),
          "a body that fails in place keeps the bytes after those rewritten");
      continue;
    }
    FUZZ_CHECK(same_json(in_place.parsed->value, parsed->value), "in place gives the same JSON");
    FUZZ_CHECK(in_place.parsed->detached.size() == parsed->detached.size(),
               "in place detaches the same strings");
    for (size_t i = 0; i < parsed->detached.size(); ++i) {
      FUZZ_CHECK(in_place.parsed->detached[i].pointer == parsed->detached[i].pointer &&
                     in_place.parsed->detached[i].text == parsed->detached[i].text,
                 "in place detaches the same strings");
    }
    json::object* message = parsed->value.if_object();
    FUZZ_CHECK(parsed->detached.empty() || (message && message->contains("params")),
               "only params strings are detached");
    if (!parsed->detached.empty()) {
      json::value& params = (*message)["params"];
      for (const DetachedString& d : parsed->detached) {
        FUZZ_CHECK(d.text.size() >= min_detached, "only long strings are detached");
        const json::value* place = params.find_pointer(d.pointer, ec);
        FUZZ_CHECK(place && place->is_string() && place->get_string().empty(),
                   "a detached string leaves an empty string at its pointer");
      }
      reattach(params, std::move(parsed->detached));
    }
    FUZZ_CHECK(same_json(parsed->value, plain), "reattached strings give the plain parse");
  }
}

void run(std::string_view bytes) {
  SplitSource source(bytes);
  LargeBuffers spares;
  MessageReader reader(source, spares);
  // Every frame or framing error consumes at least one byte of the input.
  std::size_t frames = 0;
  for (;;) {
    Frame frame = reader.next();
    FUZZ_CHECK(reader.buffer_capacity() <= 2 * (source.delivered() + (64 << 10)) + 64,
               "the reader buffers no more than it was given and one read");
    if (std::holds_alternative<EndOfInput>(frame)) break;
    FUZZ_CHECK(++frames <= bytes.size(), "the reader makes progress");
    if (auto* body = std::get_if<std::string>(&frame)) {
      FUZZ_CHECK(body->size() <= source.delivered(), "a body holds only bytes that arrived");
      check_detached(*body);
      // As the transport does: parsed in place, and resynchronised on what was not rewritten.
      size_t rewritten = 0;
      const Incoming message = decode_message_in_place(*body, rewritten);
      const auto* bad = std::get_if<InvalidMessage>(&message);
      if (bad != nullptr && bad->parse_failed) {
        reader.resync_after_bad_body(std::string_view(*body).substr(rewritten));
      }
      check_round_trip(message);
      // As the transport does: the body's storage serves the next large body.
      reader.give_back(std::move(*body));
    }
  }
  FUZZ_CHECK(std::holds_alternative<EndOfInput>(reader.next()), "the end of input stays");
}

}  // namespace
}  // namespace quib::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quib::fuzz::run(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
