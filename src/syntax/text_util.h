// Small text helpers shared by the syntax and semantic layers. Byte-level only: no allocation,
// no decoding tables, no locale.
#pragma once

#include <string_view>

namespace quib {

namespace detail {
// The trimming below for a text with white space (or a non-ASCII byte) at an end.
std::string_view trim_edges(std::string_view text);
}  // namespace detail

// `text` without the white space at both ends: ASCII white space (space, tab, LF, vertical tab,
// form feed, CR) and the Unicode spaces U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028,
// U+2029, U+202F, U+205F and U+3000. The result is a view into `text`; inner white space stays.
// Malformed UTF-8 is never trimmed, and a trailing byte is only trimmed as part of a whole
// encoded space. Inline for the common case, a text between two visible ASCII bytes, which has
// nothing to trim: every name and nearly every command and metadata text.
inline std::string_view trim_unicode_whitespace(std::string_view text) {
  const auto visible = [](char byte) { return byte > ' ' && byte <= '~'; };
  if (!text.empty() && visible(text.front()) && visible(text.back())) return text;
  return detail::trim_edges(text);
}

}  // namespace quib
