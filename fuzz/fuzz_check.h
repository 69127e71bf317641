// Helpers shared by the fuzz targets: a check that stops the run with a message libFuzzer
// reports as a crash, and the UTF-8 tests the targets use to pick and judge their inputs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Unlike QUIB_ASSERT this names the failed condition and where it was checked.
#define FUZZ_CHECK(condition, what)                                                         \
  do {                                                                                      \
    if (!(condition)) [[unlikely]] {                                                        \
      std::fprintf(stderr, "%s:%d: fuzz check failed: %s (%s)\n", __FILE__, __LINE__, what, \
                   #condition);                                                             \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

namespace quib::fuzz {

// Byte length of the well-formed UTF-8 sequence at `i`, or 0 when there is none (overlong
// forms, surrogates and code points above U+10FFFF are not well-formed).
inline std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  std::size_t length;
  uint32_t code;
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    code = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    code = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    code = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) return 0;
  if (length == 4 && (code < 0x10000 || code > 0x10FFFF)) return 0;
  return length;
}

inline bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_sequence_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// True when `offset` starts a character of valid UTF-8 `text`, or is its end.
inline bool is_char_boundary(std::string_view text, uint32_t offset) {
  if (offset > text.size()) return false;
  return offset == text.size() || (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80;
}

}  // namespace quib::fuzz
