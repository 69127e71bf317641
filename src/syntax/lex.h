// The raw token recogniser: at one byte offset, the class and end of the longest token there.
// It keeps no state between calls and knows nothing of line starts or SyntaxKind; the cursor
// (syntax/cursor.h) turns raw classes into kinds.
#pragma once

#include <cstdint>
#include <string_view>

namespace quib {

// What `lex` recognised. The punctuation classes name their one byte; `Blank` is a run of
// spaces and tabs (Indent or Whitespace, decided by the cursor); `Word` includes `group`
// (the cursor tells it apart); `Error` is one character no rule accepts, one invalid byte, or
// an unterminated string up to its line end.
enum class RawClass : uint8_t {
  Bang,
  Colon,
  Question,
  Ampersand,
  Equals,
  At,
  LParen,
  RParen,
  LBracket,
  RBracket,
  LBrace,
  RBrace,
  Comma,
  Word,
  Blank,
  LineBreak,
  Comment,
  String,
  ByteOrderMark,
  ShellKeyword,
  ShellTildeEquals,
  Error,
};

// The bytes that may begin a word (letters, `_`, `-`) and those that may continue one (the
// digits too). The recogniser's tables and the cursor's block scan both follow these.
constexpr bool is_word_start_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}
constexpr bool is_word_byte(unsigned char c) {
  return is_word_start_byte(c) || (c >= '0' && c <= '9');
}

struct RawToken {
  RawClass raw;
  uint32_t end;  // byte offset one past the token's last byte
};

// The longest token of `text` starting at byte offset `start`.
// Requires start < text.size() and text.size() < 4 GiB. Guarantees start < end <= text.size(),
// so driving it from 0 to the end always terminates and tiles the text. Any bytes are accepted:
// a byte that does not begin a well-formed UTF-8 sequence is a one-byte Error, and such a byte
// also ends a comment or a string body, so every other token's text is well-formed UTF-8.
RawToken lex(std::string_view text, uint32_t start);

}  // namespace quib
