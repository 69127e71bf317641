// Text output of JsonWriter: escaping and numbers. Nothing here knows a protocol type.
#include "lsp/json_writer.h"

#include <algorithm>
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

// False only when none of the eight bytes is below 0x20, `"` or `\\`. A true answer may be
// wrong for bytes after a real hit; the byte loop settles every flagged word.
bool may_need_escape(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  const auto has_zero = [&](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  const uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighs;
  return (below_space | has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\'))) != 0;
}

// Calls `on_escape(i, escape)` for each byte of `text` that needs an escape, in order, with
// its letter from kEscape. Runs of bytes that need none are skipped eight bytes at a time: a
// document text is mostly one long run between line feeds.
template <typename OnEscape>
void for_each_escape(std::string_view text, OnEscape&& on_escape) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.size() - i >= 8 && !may_need_escape(load_word(text.data() + i))) {
      i += 8;
      continue;
    }
    const std::size_t stop = std::min(text.size(), i + 8);
    for (; i < stop; ++i) {
      const char escape = kEscape[static_cast<unsigned char>(text[i])];
      if (escape != 0) on_escape(i, escape);
    }
  }
}

// As `for_each_escape`, from the last byte back to the first.
template <typename OnEscape>
void for_each_escape_backward(std::string_view text, OnEscape&& on_escape) {
  std::size_t i = text.size();
  while (i > 0) {
    if (i >= 8 && !may_need_escape(load_word(text.data() + i - 8))) {
      i -= 8;
      continue;
    }
    const std::size_t stop = i >= 8 ? i - 8 : 0;
    for (; i > stop; --i) {
      const char escape = kEscape[static_cast<unsigned char>(text[i - 1])];
      if (escape != 0) on_escape(i - 1, escape);
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
  constexpr std::size_t kClosingRoom = 64;
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
  // Digits go through a small buffer, so the string grows once per chunk, not per number.
  constexpr std::size_t kChunk = 4096;
  constexpr std::size_t kMaxNumber = 11;  // ten digits and a comma
  out_.reserve(out_.size() + 2 + values.size() * 4);
  char chunk[kChunk + kMaxNumber];
  char* at = chunk;
  *at++ = '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) *at++ = ',';
    at = std::to_chars(at, chunk + sizeof chunk, values[i]).ptr;
    if (at >= chunk + kChunk) {
      out_.append(chunk, at);
      at = chunk;
    }
  }
  *at++ = ']';
  out_.append(chunk, at);
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
  constexpr std::size_t kClosingRoom = 64;
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
