// The token cursor: drives the `lex` recogniser over a whole text and turns its raw classes
// into SyntaxKind tokens using the line-start state. ("Cursor" means the token cursor here,
// not a tree cursor.) Never fails; every byte ends up in exactly one token.
#pragma once

#include <string_view>
#include <vector>

#include "syntax/token.h"

namespace quib {

// Tokens of `text` in document order, ending with one Eof token at (length, length).
// `text` must be valid UTF-8 shorter than 4 GiB.
std::vector<Token> tokenize(std::string_view text);

}  // namespace quib
