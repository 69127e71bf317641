// The reference tokenization: the raw recogniser driven one token at a time, with the kinds
// the cursor gives its raw classes. The cursor finds most token starts a block at a time; tests
// and the parse fuzzer hold it to this. Header-only, like the other test support.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/lex.h"
#include "syntax/syntax_kind.h"

namespace quib::testing_support {

// The kind of each raw class, in RawClass order; a blank run at a line start is an Indent and
// the word `group` a keyword instead.
inline constexpr std::array<SyntaxKind, static_cast<size_t>(RawClass::Error) + 1> kKindOfRawClass =
    {
        SyntaxKind::Bang,          SyntaxKind::Colon,        SyntaxKind::Question,
        SyntaxKind::Ampersand,     SyntaxKind::Equals,       SyntaxKind::At,
        SyntaxKind::LParen,        SyntaxKind::RParen,       SyntaxKind::LBracket,
        SyntaxKind::RBracket,      SyntaxKind::LBrace,       SyntaxKind::RBrace,
        SyntaxKind::Comma,         SyntaxKind::Word,         SyntaxKind::Whitespace,
        SyntaxKind::Newline,       SyntaxKind::Comment,      SyntaxKind::String,
        SyntaxKind::ByteOrderMark, SyntaxKind::ShellKeyword, SyntaxKind::ShellTildeEquals,
        SyntaxKind::Unknown,
};

// The tokens of `text` from `begin` (a line start) as the recogniser gives them driven one token
// at a time: the reference that the cursor's block scan must reproduce.
inline std::vector<std::pair<SyntaxKind, uint32_t>> recognised_tokens(std::string_view text,
                                                                      uint32_t begin) {
  std::vector<std::pair<SyntaxKind, uint32_t>> tokens;
  bool at_line_start = true;
  for (uint32_t offset = begin; offset < text.size();) {
    const RawToken raw = lex(text, offset);
    const std::string_view slice = text.substr(offset, raw.end - offset);
    SyntaxKind kind = kKindOfRawClass[static_cast<size_t>(raw.raw)];
    if (kind == SyntaxKind::Word && slice == "group") kind = SyntaxKind::GroupKeyword;
    if (kind == SyntaxKind::Whitespace && at_line_start) kind = SyntaxKind::Indent;
    tokens.emplace_back(kind, offset);
    at_line_start = kind == SyntaxKind::Newline;
    offset = raw.end;
  }
  return tokens;
}

}  // namespace quib::testing_support
