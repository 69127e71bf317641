// Fixtures for the cursor features: the document text with a `^` where the cursor is and
// `[[`...`]]` around the one expected range. Both markers are stripped before parsing; in
// "]]]" the first `]` is text, so a range can end with a metadata key's `]`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "syntax/assert.h"
#include "syntax/text_range.h"

namespace quib::lsp::testing {

struct CursorFixture {
  std::string text;                // without markers
  uint32_t cursor = 0;             // byte offset of the `^`
  std::optional<TextRange> range;  // the `[[`...`]]` span, if marked
};

inline CursorFixture parse_cursor_fixture(std::string_view annotated) {
  CursorFixture fixture;
  std::optional<uint32_t> cursor;
  // Where an unclosed `[[` opened; a plain offset with a flag rather than an optional, on which
  // GCC 12 under ThreadSanitizer warns of a use before initialisation that cannot happen.
  uint32_t open = 0;
  bool is_open = false;
  for (size_t i = 0; i < annotated.size(); ++i) {
    const std::string_view rest = annotated.substr(i);
    const auto here = static_cast<uint32_t>(fixture.text.size());
    if (rest.starts_with('^')) {
      QUIB_ASSERT(!cursor, "fixture has more than one cursor");
      cursor = here;
    } else if (rest.starts_with("[[")) {
      QUIB_ASSERT(!is_open && !fixture.range, "fixture marks more than one range");
      open = here;
      is_open = true;
      ++i;
    } else if (rest.starts_with("]]") && !rest.starts_with("]]]") && is_open) {
      fixture.range = TextRange(open, here);
      is_open = false;
      ++i;
    } else {
      fixture.text += annotated[i];
    }
  }
  QUIB_ASSERT(cursor.has_value(), "fixture has no cursor");
  QUIB_ASSERT(!is_open, "fixture has an unclosed [[ marker");
  fixture.cursor = *cursor;
  return fixture;
}

}  // namespace quib::lsp::testing
