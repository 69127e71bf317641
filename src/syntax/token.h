// Token: the lexer's output record. The token list of one text is in document order, covers
// the text without gaps and ends with exactly one Eof token at (length, length).
#pragma once

#include "syntax/small_text.h"
#include "syntax/syntax_kind.h"
#include "syntax/text_range.h"

namespace quib {

// Invariant: 32 bytes; the end offset is implied by the text, so it is not stored.
struct Token {
  SmallText text;  // the exact source slice
  uint32_t start;  // byte offset of the slice
  SyntaxKind kind;

  // Byte offsets of the slice.
  TextRange range() const { return {start, start + text.size()}; }
};
static_assert(sizeof(Token) == 32);

}  // namespace quib
