// The token cursor: drives the `lex` recogniser over a whole text and turns its raw classes
// into SyntaxKind tokens using the line-start state. ("Cursor" means the token cursor here,
// not a tree cursor.) Never fails; every byte ends up in exactly one token.
#pragma once

#include <string_view>
#include <vector>

#include <memory>
#include <string>

#include "syntax/token.h"
#include "syntax/token_list.h"

namespace quib {

// Tokens of `text` in document order, ending with one Eof token at (length, length).
// `text` must be valid UTF-8 shorter than 4 GiB.
std::vector<Token> tokenize(std::string_view text);

// The same tokens in compact form (kind and start per token), sharing `text`. This is what a
// parse keeps: it costs six bytes per token instead of a record with its own text.
TokenList tokenize_compact(std::shared_ptr<const std::string> text);
// The tokens of the part [begin, end) of `text`, as in the token list of the whole text, then
// one Eof at (end, end). `begin` must start a line and `end` must end one (or the text).
TokenList tokenize_compact(std::shared_ptr<const std::string> text, uint32_t begin, uint32_t end);

}  // namespace quib
