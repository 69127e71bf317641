// Text output of JsonWriter: escaping and numbers. Nothing here knows a protocol type.
#include "lsp/json_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace quib::lsp {

namespace {

// The escape of each byte below 0x20 and of `"` and `\`: its letter after a backslash, 'u' for
// a \u00XX escape, 0 for none.
constexpr char kEscape[256] = {
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'b', 't', 'n', 'u', 'f', 'r', 'u', 'u', 'u',  'u', 'u',
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 0,   0,   '"', 0,    0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   '\\',
};

uint64_t load_word(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// 0x80 in each byte of `v` that is zero and 0 elsewhere. Exact: the sum cannot carry from one
// byte into the next, unlike the shorter borrow-based test.
uint64_t zero_bytes(uint64_t v) {
  constexpr uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
  return ~(((v & kLows) + kLows) | v | kLows);
}

// 0x80 in each of the eight bytes that needs an escape (below 0x20, `"` or `\\`), 0 elsewhere.
uint64_t escape_bytes(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  return zero_bytes(word & (kOnes * 0xE0)) | zero_bytes(word ^ (kOnes * '"')) |
         zero_bytes(word ^ (kOnes * '\\'));
}

// The index in its word of the first (lowest-addressed) or last byte flagged in `mask`.
std::size_t first_flagged(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(mask)) / 8;
  }
}
std::size_t last_flagged(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(63 - std::countl_zero(mask)) / 8;
  } else {
    return static_cast<std::size_t>(63 - std::countr_zero(mask)) / 8;
  }
}
uint64_t flag_of(std::size_t byte) {
  const std::size_t shift =
      std::endian::native == std::endian::little ? byte * 8 + 7 : (7 - byte) * 8 + 7;
  return uint64_t{1} << shift;
}

char escape_of(char byte) {
  return kEscape[static_cast<unsigned char>(byte)];
}

// Calls `on_escape(i, escape)` for each byte of `text` that needs an escape, in order, with
// its letter from kEscape. Eight bytes are tested at a time and only the flagged ones visited:
// a document text is mostly long runs between line feeds.
template <typename OnEscape>
void for_each_escape(std::string_view text, OnEscape&& on_escape) {
  std::size_t i = 0;
  for (; text.size() - i >= 8; i += 8) {
    for (uint64_t mask = escape_bytes(load_word(text.data() + i)); mask != 0;) {
      const std::size_t byte = first_flagged(mask);
      on_escape(i + byte, escape_of(text[i + byte]));
      mask &= ~flag_of(byte);
    }
  }
  for (; i < text.size(); ++i) {
    if (const char escape = escape_of(text[i]); escape != 0) on_escape(i, escape);
  }
}

// As `for_each_escape`, from the last byte back to the first.
template <typename OnEscape>
void for_each_escape_backward(std::string_view text, OnEscape&& on_escape) {
  std::size_t i = text.size();
  for (const std::size_t whole = text.size() / 8 * 8; i > whole; --i) {
    if (const char escape = escape_of(text[i - 1]); escape != 0) on_escape(i - 1, escape);
  }
  for (; i >= 8; i -= 8) {
    for (uint64_t mask = escape_bytes(load_word(text.data() + i - 8)); mask != 0;) {
      const std::size_t byte = last_flagged(mask);
      on_escape(i - 8 + byte, escape_of(text[i - 8 + byte]));
      mask &= ~flag_of(byte);
    }
  }
}

// Writes the escape of `byte` (its letter from kEscape) at `at` and returns its length.
std::size_t write_escape(char* at, char escape, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  at[0] = '\\';
  at[1] = escape;
  if (escape != 'u') return 2;
  at[2] = '0';
  at[3] = '0';
  at[4] = kHex[byte >> 4];
  at[5] = kHex[byte & 0xF];
  return 6;
}

constexpr std::size_t escape_length(char escape) {
  return escape == 'u' ? 6 : 2;
}

// Room reserved after a string for the few bytes that close the structures around it.
constexpr std::size_t kClosingRoom = 64;

// The length of `text` once escaped, quotes excluded: reserving that (and the few bytes that
// close the structures around a string) keeps a large string from doubling the output's
// capacity, and copying it, once its escapes or the closing bytes overflow.
std::size_t escaped_size(std::string_view text) {
  std::size_t size = text.size();
  for_each_escape(text, [&](std::size_t, char escape) { size += escape_length(escape) - 1; });
  return size;
}

}  // namespace

void JsonWriter::key(MemberName name) {
  separate();
  out_.push_back('"');
  out_.append(name.view());
  out_.append("\":", 2);
  need_comma_ = false;
}

void JsonWriter::string(std::string_view text) {
  separate();
  const std::size_t escaped = escaped_size(text);
  out_.reserve(out_.size() + escaped + 2 + kClosingRoom);
  out_.push_back('"');
  if (escaped == text.size()) {
    // Most strings (names, keys, URIs) need no escape: one copy, no second scan.
    out_.append(text);
    out_.push_back('"');
    return;
  }
  // Runs of bytes that need no escape are copied in one append each.
  std::size_t run = 0;
  for_each_escape(text, [&](std::size_t i, char escape) {
    out_.append(text.data() + run, i - run);
    run = i + 1;
    char sequence[6];
    out_.append(sequence, write_escape(sequence, escape, static_cast<unsigned char>(text[i])));
  });
  out_.append(text.data() + run, text.size() - run);
  out_.push_back('"');
}

void JsonWriter::number(int64_t n) {
  separate();
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out_.append(digits, end);
}

void JsonWriter::number(uint64_t n) {
  separate();
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out_.append(digits, end);
}

void JsonWriter::numbers(std::span<const uint32_t> values) {
  separate();
  out_.reserve(out_.size() + 2 + values.size() * 4);
  out_.push_back('[');
  append_integers(out_, values, false);
  out_.push_back(']');
}

void append_integers(std::string& out, std::span<const uint32_t> values, bool after_another) {
  // Digits go through a small buffer, so the string grows once per chunk, not per number.
  constexpr std::size_t kChunk = 4096;
  constexpr std::size_t kMaxNumber = 11;  // ten digits and a comma
  char chunk[kChunk + kMaxNumber];
  char* at = chunk;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0 || after_another) *at++ = ',';
    at = std::to_chars(at, chunk + sizeof chunk, values[i]).ptr;
    if (at >= chunk + kChunk) {
      out.append(chunk, at);
      at = chunk;
    }
  }
  out.append(chunk, at);
}

void JsonWriter::boolean(bool b) {
  separate();
  out_.append(b ? "true" : "false");
}

void JsonWriter::null() {
  separate();
  out_.append("null");
}

void JsonWriter::raw(std::string_view json) {
  separate();
  out_.append(json);
}

std::string json_string_in_place(std::string text, std::string_view before,
                                 std::string_view after) {
  const std::size_t raw = text.size();
  const std::size_t escaped = escaped_size(text);
  const std::size_t total = before.size() + 1 + escaped + 1 + after.size();
  text.reserve(total + kClosingRoom);
  text.resize(total);
  char* const data = text.data();
  // Every byte moves right (by the opening and the escapes before it), so filling from the
  // back never overwrites a byte not yet moved, and the bytes still to scan stay untouched.
  std::size_t write_end = before.size() + 1 + escaped;
  std::size_t read_end = raw;
  std::memcpy(data + write_end + 1, after.data(), after.size());
  data[write_end] = '"';
  const auto move_run = [&](std::size_t from) {
    const std::size_t length = read_end - from;
    write_end -= length;
    std::memmove(data + write_end, data + from, length);
  };
  for_each_escape_backward(std::string_view(data, raw), [&](std::size_t i, char escape) {
    const auto byte = static_cast<unsigned char>(data[i]);
    move_run(i + 1);
    write_end -= escape_length(escape);
    write_escape(data + write_end, escape, byte);
    read_end = i;
  });
  move_run(0);
  data[before.size()] = '"';
  std::memcpy(data, before.data(), before.size());
  return text;
}

}  // namespace quib::lsp
