// JsonWriter: writes JSON text straight into a string, for outgoing messages, where building a
// value tree first would only be copied into text again. Reading JSON is Boost.JSON's job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quib::lsp {

// A member name written in the source. The compiler checks that it needs no escape, so writing
// it is one copy; a name with a quote, backslash or control character does not compile.
class MemberName {
 public:
  template <std::size_t N>
  consteval MemberName(const char (&name)[N]) : name_(name, N - 1) {  // NOLINT: implicit
    for (const char c : name_) {
      if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\') {
        throw "a member name must need no escape";
      }
    }
  }
  std::string_view view() const { return name_; }

 private:
  std::string_view name_;
};

// Appends to one string. Commas are placed by the writer: `key` and every value or container
// that follows another in the same container get one. Strings are escaped as Boost.JSON's
// serializer escapes them (`"`, `\` and control characters; UTF-8 passes through unchanged).
// Invariant: the caller opens and closes containers in order and gives every member a key;
// the writer does not check this.
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }
  // A member name; the next value is that member's.
  void key(MemberName name);

  void string(std::string_view text);
  void number(int64_t n);
  void number(uint64_t n);
  void boolean(bool b);
  void null();
  // JSON text written as it is, as one value.
  void raw(std::string_view json);
  // An array of numbers in one pass: the semantic tokens answer is one of a million numbers.
  void numbers(std::span<const uint32_t> values);
  // Room for `bytes` more output, for a writer that knows its answer will be large.
  void reserve(std::size_t bytes) { out_.reserve(out_.size() + bytes); }
  std::size_t written() const { return out_.size(); }

 private:
  void separate() {
    if (need_comma_) out_.push_back(',');
    need_comma_ = true;
  }
  void open(char bracket) {
    separate();
    out_.push_back(bracket);
    need_comma_ = false;
  }
  void close(char bracket) {
    out_.push_back(bracket);
    need_comma_ = true;
  }

  std::string& out_;
  bool need_comma_ = false;
};

// The conversions of plain values; the protocol types add theirs next to their definitions
// (lsp/protocol_types.h), all found by argument-dependent lookup or from here.
inline void write_json(JsonWriter& w, std::string_view text) {
  w.string(text);
}
inline void write_json(JsonWriter& w, const std::string& text) {
  w.string(text);
}
inline void write_json(JsonWriter& w, const char* text) {
  w.string(text);
}
inline void write_json(JsonWriter& w, bool b) {
  w.boolean(b);
}
inline void write_json(JsonWriter& w, int n) {
  w.number(static_cast<int64_t>(n));
}
inline void write_json(JsonWriter& w, int64_t n) {
  w.number(n);
}
inline void write_json(JsonWriter& w, uint32_t n) {
  w.number(static_cast<uint64_t>(n));
}
inline void write_json(JsonWriter& w, std::nullptr_t) {
  w.null();
}

// An absent optional is null here; optional members of objects are omitted instead, through
// `write_member`.
template <class T>
void write_json(JsonWriter& w, const std::optional<T>& value) {
  if (value) {
    write_json(w, *value);
  } else {
    w.null();
  }
}

inline void write_json(JsonWriter& w, const std::vector<uint32_t>& items) {
  w.numbers(items);
}

// A long list reserves room for the rest once its first element is written, taking that one
// as typical (with a quarter to spare): a large answer then grows by a copy at most, not by a
// doubling per size step.
template <class T>
void write_json(JsonWriter& w, const std::vector<T>& items) {
  constexpr std::size_t kReservedFrom = 64;
  w.begin_array();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t before = w.written();
    write_json(w, items[i]);
    if (i == 0 && items.size() >= kReservedFrom) {
      w.reserve((w.written() - before + 1) * (items.size() - 1) * 5 / 4);
    }
  }
  w.end_array();
}

template <class T>
void write_member(JsonWriter& w, MemberName name, const T& value) {
  w.key(name);
  write_json(w, value);
}

template <class T>
void write_member(JsonWriter& w, MemberName name, const std::optional<T>& value) {
  if (!value) return;
  w.key(name);
  write_json(w, *value);
}

// Appends `values` to `out` as decimal integers separated by commas, with a comma first when
// `after_another` (the list in `out` already holds a number); no brackets.
void append_integers(std::string& out, std::span<const uint32_t> values, bool after_another);

// The JSON text of one value.
template <class T>
std::string to_json_text(const T& value) {
  std::string out;
  JsonWriter w(out);
  write_json(w, value);
  return out;
}

// `before`, then `text` as a JSON string, then `after`, built in `text`'s own buffer: a large
// text (a whole formatted document) is escaped where it lies instead of being copied into a
// second buffer of its size. Escapes as `JsonWriter::string` does, byte for byte.
std::string json_string_in_place(std::string text, std::string_view before, std::string_view after);

}  // namespace quib::lsp
