// The raw recogniser: two 256-entry tables (first byte -> rule, byte -> body flags) and the
// inner loops that scan words, blanks, comments and strings eight bytes per step. It does not
// decode UTF-8; it only checks sequence shapes so that tokens never split a character.
#include "syntax/lex.h"

#include <array>
#include <bit>
#include <cstring>

#include "syntax/assert.h"

namespace quib {
namespace {

// The rule chosen by a token's first byte. The first thirteen values are the punctuation
// marks and coincide with RawClass, so a punctuation rule is its own raw class.
enum class Rule : uint8_t {
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
  Blank,
  LineFeed,
  CarriageReturn,
  Hash,
  Quote,
  WordStart,
  LetterS,
  ByteEF,
  OtherAscii,  // one ASCII byte as Error
  NonAscii,    // one UTF-8 character (or one ill-formed byte) as Error
};
static_assert(static_cast<uint8_t>(RawClass::Comma) == static_cast<uint8_t>(Rule::Comma),
              "punctuation rules must coincide with their raw classes");

constexpr uint8_t kWordContinue = 1;
constexpr uint8_t kCommentBody = 2;  // ASCII other than LF; non-ASCII is validated separately
constexpr uint8_t kStringBody = 4;   // ASCII other than LF and the double quote
constexpr uint8_t kBlank = 8;        // space and tab

constexpr std::array<Rule, 256> make_rules() {
  std::array<Rule, 256> rules{};
  for (int c = 0; c < 256; ++c) rules[c] = c < 0x80 ? Rule::OtherAscii : Rule::NonAscii;
  constexpr std::string_view punctuation = "!:?&=@()[]{},";
  for (uint8_t i = 0; i < punctuation.size(); ++i) {
    rules[static_cast<uint8_t>(punctuation[i])] = static_cast<Rule>(i);
  }
  for (int c = 0; c < 0x80; ++c) {
    if (is_word_start_byte(static_cast<unsigned char>(c))) rules[c] = Rule::WordStart;
  }
  rules['s'] = Rule::LetterS;
  rules[' '] = Rule::Blank;
  rules['\t'] = Rule::Blank;
  rules['\n'] = Rule::LineFeed;
  rules['\r'] = Rule::CarriageReturn;
  rules['#'] = Rule::Hash;
  rules['"'] = Rule::Quote;
  rules[0xEF] = Rule::ByteEF;
  return rules;
}

constexpr std::array<uint8_t, 256> make_flags() {
  std::array<uint8_t, 256> flags{};
  for (int c = 0; c < 0x80; ++c) {
    if (c != '\n') flags[c] |= kCommentBody;
    if (c != '\n' && c != '"') flags[c] |= kStringBody;
    if (is_word_byte(static_cast<unsigned char>(c))) flags[c] |= kWordContinue;
    if (c == ' ' || c == '\t') flags[c] |= kBlank;
  }
  return flags;
}

constexpr std::array<Rule, 256> kRules = make_rules();
constexpr std::array<uint8_t, 256> kFlags = make_flags();

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kLowBits = ~kHighBits;

uint64_t load8(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The SWAR helpers below return a mask with the high bit set in exactly the selected bytes.
// No carry crosses a byte boundary, so the masks are exact, not just "some byte" tests.

// Bytes of `word` that are not zero.
constexpr uint64_t nonzero_bytes(uint64_t word) {
  return (((word & kLowBits) + kLowBits) | word) & kHighBits;
}
constexpr uint64_t bytes_equal(uint64_t word, uint8_t byte) {
  return ~nonzero_bytes(word ^ (kOnes * byte)) & kHighBits;
}
// ASCII bytes of `word` within [low, high]; bytes with the high bit set are never selected.
constexpr uint64_t bytes_in_range(uint64_t word, uint8_t low, uint8_t high) {
  const uint64_t ascii = word & kLowBits;
  const uint64_t at_least_low = ascii + kOnes * (0x80 - low);
  const uint64_t above_high = ascii + kOnes * (0x7F - high);
  return at_least_low & ~above_high & ~word & kHighBits;
}
constexpr uint64_t word_bytes(uint64_t word) {
  return bytes_in_range(word | (kOnes * 0x20), 'a', 'z') | bytes_in_range(word, '0', '9') |
         bytes_equal(word, '_') | bytes_equal(word, '-');
}
constexpr uint64_t blank_bytes(uint64_t word) {
  return bytes_equal(word, ' ') | bytes_equal(word, '\t');
}

// Index of the first selected byte in memory order; `mask` must be non-zero.
uint32_t first_byte(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint32_t>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<uint32_t>(std::countl_zero(mask)) / 8;
  }
}

// Advances from `pos` over bytes whose flags contain `flag`: eight at a time while `stops`
// selects none of them, then to the first selected byte or the first byte of a short tail
// that lacks the flag. `stops(word)` must select every byte without `flag`.
template <typename Stops>
uint32_t scan_run(std::string_view text, uint32_t pos, uint8_t flag, Stops stops) {
  const auto size = static_cast<uint32_t>(text.size());
  while (size - pos >= 8) {
    const uint64_t stop = stops(load8(text.data() + pos));
    if (stop != 0) return pos + first_byte(stop);
    pos += 8;
  }
  while (pos < size && (kFlags[static_cast<uint8_t>(text[pos])] & flag)) ++pos;
  return pos;
}

// Length of the well-formed UTF-8 sequence at `pos` (1 to 4), or 0 when the bytes there do
// not form one: a stray continuation byte, an overlong or surrogate form, a value above
// U+10FFFF, or a sequence cut off by the end of the text.
uint32_t utf8_length(std::string_view text, uint32_t pos) {
  const auto at = [&](uint32_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = at(pos);
  if (lead < 0x80) return 1;
  uint32_t length;
  uint8_t low = 0x80;  // allowed range of the second byte
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  if (at(pos + 1) < low || at(pos + 1) > high) return 0;
  for (uint32_t i = 2; i < length; ++i) {
    if (at(pos + i) < 0x80 || at(pos + i) > 0xBF) return 0;
  }
  return length;
}

uint32_t scan_word(std::string_view text, uint32_t pos) {
  return scan_run(text, pos, kWordContinue,
                  [](uint64_t word) { return ~word_bytes(word) & kHighBits; });
}

uint32_t scan_blanks(std::string_view text, uint32_t pos) {
  if (pos == text.size() || !(kFlags[static_cast<uint8_t>(text[pos])] & kBlank)) return pos;
  return scan_run(text, pos, kBlank, [](uint64_t word) { return ~blank_bytes(word) & kHighBits; });
}

// End of a comment that starts at `pos` (the '#'): the next LF, the end of the text, or the
// first byte that does not begin a well-formed UTF-8 sequence.
uint32_t scan_comment(std::string_view text, uint32_t pos) {
  const auto size = static_cast<uint32_t>(text.size());
  ++pos;
  while (pos < size) {
    pos = scan_run(text, pos, kCommentBody,
                   [](uint64_t word) { return (word & kHighBits) | bytes_equal(word, '\n'); });
    if (pos == size || text[pos] == '\n') break;
    const uint32_t length = utf8_length(text, pos);
    if (length == 0) break;
    pos += length;
  }
  return pos;
}

// The string rule. A quote right after a backslash may be content or the closing quote; the
// string up to it is remembered, and used only if no unescaped quote closes the string before
// the line feed (or the end, or an ill-formed byte). Linear: nothing after the remembered end
// up to the line end is a quote, so re-lexing that tail never re-enters a string.
RawToken scan_string(std::string_view text, uint32_t start) {
  const auto size = static_cast<uint32_t>(text.size());
  uint32_t remembered = 0;  // end of the last complete string seen; 0 means none
  uint32_t pos = start + 1;
  while (pos < size) {
    pos = scan_run(text, pos, kStringBody, [](uint64_t word) {
      return (word & kHighBits) | bytes_equal(word, '\n') | bytes_equal(word, '"');
    });
    if (pos == size || text[pos] == '\n') break;
    if (text[pos] == '"') {
      // text[start] is the opening quote, so a backslash before pos is string content.
      if (text[pos - 1] != '\\') return {RawClass::String, pos + 1};
      remembered = pos + 1;
      ++pos;
      continue;
    }
    const uint32_t length = utf8_length(text, pos);
    if (length == 0) break;
    pos += length;
  }
  if (remembered != 0) return {RawClass::String, remembered};
  return {RawClass::Error, pos};
}

bool starts_with_at(std::string_view text, uint32_t pos, std::string_view prefix) {
  return text.size() - pos >= prefix.size() && text.substr(pos, prefix.size()) == prefix;
}

}  // namespace

RawToken lex(std::string_view text, uint32_t start) {
  QUIB_ASSERT(start < text.size(), "lex needs at least one byte at its start offset");
  const auto size = static_cast<uint32_t>(text.size());
  const uint8_t first = static_cast<uint8_t>(text[start]);
  // One dispatch per token: the punctuation cases share a body instead of a separate test.
  const Rule rule = kRules[first];
  if (static_cast<uint8_t>(rule) <= static_cast<uint8_t>(Rule::Comma)) {
    return {static_cast<RawClass>(rule), start + 1};
  }
  switch (rule) {
    case Rule::Bang:
    case Rule::Colon:
    case Rule::Question:
    case Rule::Ampersand:
    case Rule::Equals:
    case Rule::At:
    case Rule::LParen:
    case Rule::RParen:
    case Rule::LBracket:
    case Rule::RBracket:
    case Rule::LBrace:
    case Rule::RBrace:
    case Rule::Comma:
      return {static_cast<RawClass>(rule), start + 1};
    case Rule::Blank:
      return {RawClass::Blank, scan_blanks(text, start + 1)};
    case Rule::LineFeed:
      return {RawClass::LineBreak, start + 1};
    case Rule::CarriageReturn: {
      const bool crlf = start + 1 < size && text[start + 1] == '\n';
      return {RawClass::LineBreak, start + (crlf ? 2u : 1u)};
    }
    case Rule::Hash:
      return {RawClass::Comment, scan_comment(text, start)};
    case Rule::Quote:
      return scan_string(text, start);
    case Rule::LetterS:
      if (starts_with_at(text, start, "shell~=")) return {RawClass::ShellTildeEquals, start + 7};
      if (starts_with_at(text, start, "shell") &&
          (size - start == 5 || !(kFlags[static_cast<uint8_t>(text[start + 5])] & kWordContinue))) {
        return {RawClass::ShellKeyword, start + 5};
      }
      return {RawClass::Word, scan_word(text, start + 1)};
    case Rule::WordStart:
      return {RawClass::Word, scan_word(text, start + 1)};
    case Rule::OtherAscii:
      return {RawClass::Error, start + 1};
    case Rule::ByteEF:
      // U+FEFF counts as a byte order mark only as the very first character of the text.
      if (start == 0 && starts_with_at(text, 0, "\xEF\xBB\xBF")) {
        return {RawClass::ByteOrderMark, 3};
      }
      break;
    case Rule::NonAscii:
      break;
  }
  const uint32_t length = utf8_length(text, start);
  return {RawClass::Error, start + (length == 0 ? 1 : length)};
}

}  // namespace quib
