// White-space trimming over UTF-8 bytes, matching whole encoded characters at each end.
#include "syntax/text_util.h"

namespace quib {

namespace {

// UTF-8 encodings of the non-ASCII white-space characters.
constexpr std::string_view kUnicodeSpaces[] = {
    "\xC2\x85",      // U+0085 next line
    "\xC2\xA0",      // U+00A0 no-break space
    "\xE1\x9A\x80",  // U+1680 ogham space mark
    // U+2000 en quad to U+200A hair space
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8",  // U+2028 line separator
    "\xE2\x80\xA9",  // U+2029 paragraph separator
    "\xE2\x80\xAF",  // U+202F narrow no-break space
    "\xE2\x81\x9F",  // U+205F medium mathematical space
    "\xE3\x80\x80",  // U+3000 ideographic space
};

constexpr bool is_ascii_space(char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// Byte length of the white-space character that `text` starts with (or, with `at_end`, ends
// with), or 0. Every encoding above begins with a lead byte, so a match at the end is always a
// whole character, never the tail of a longer one.
size_t space_length(std::string_view text, bool at_end) {
  if (text.empty()) {
    return 0;
  }
  const char edge = at_end ? text.back() : text.front();
  if (is_ascii_space(edge)) {
    return 1;
  }
  // Every non-ASCII space starts and ends with a byte of 0x80 or above, and its first two
  // bytes are one of a few pairs: other texts ending in non-ASCII (a symbol, a letter) skip
  // the table.
  if (static_cast<unsigned char>(edge) < 0x80) {
    return 0;
  }
  const auto starts_space = [&](size_t length) {
    if (text.size() < length) return false;
    const size_t at = at_end ? text.size() - length : 0;
    const auto lead = static_cast<unsigned char>(text[at]);
    const auto next = static_cast<unsigned char>(text[at + 1]);
    if (length == 2) return lead == 0xC2 && (next == 0x85 || next == 0xA0);
    return (lead == 0xE1 && next == 0x9A) || (lead == 0xE2 && (next == 0x80 || next == 0x81)) ||
           (lead == 0xE3 && next == 0x80);
  };
  if (!starts_space(2) && !starts_space(3)) {
    return 0;
  }
  for (const std::string_view space : kUnicodeSpaces) {
    if (at_end ? text.ends_with(space) : text.starts_with(space)) {
      return space.size();
    }
  }
  return 0;
}

}  // namespace

std::string_view detail::trim_edges(std::string_view text) {
  while (const size_t length = space_length(text, false)) {
    text.remove_prefix(length);
  }
  while (const size_t length = space_length(text, true)) {
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace quib
