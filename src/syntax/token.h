// Token: the lexer's output record. The token list of one text is in document order, covers
// the text without gaps and ends with exactly one Eof token at (length, length).
#pragma once

#include "syntax/small_text.h"
#include "syntax/syntax_kind.h"
#include "syntax/text_range.h"

namespace quib {

struct Token {
  SyntaxKind kind;
  SmallText text;   // the exact source slice
  TextRange range;  // byte offsets of that slice
};

}  // namespace quib
