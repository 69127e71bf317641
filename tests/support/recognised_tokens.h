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

// The tokens of `text` from `begin` (a line start) as the recogniser gives them driven one token
// at a time: the reference that the cursor's block scan must reproduce.
inline std::vector<std::pair<SyntaxKind, uint32_t>> recognised_tokens(std::string_view text,
                                                                      uint32_t begin) {
  std::vector<std::pair<SyntaxKind, uint32_t>> tokens;
  bool at_line_start = true;
  for (uint32_t offset = begin; offset < text.size();) {
    const RawToken raw = lex(text, offset);
    const std::string_view slice = text.substr(offset, raw.end - offset);
    SyntaxKind kind = SyntaxKind::Unknown;
    switch (raw.raw) {
      case RawClass::Word:
        kind = slice == "group" ? SyntaxKind::GroupKeyword : SyntaxKind::Word;
        break;
      case RawClass::Blank:
        kind = at_line_start ? SyntaxKind::Indent : SyntaxKind::Whitespace;
        break;
      case RawClass::LineBreak:
        kind = SyntaxKind::Newline;
        break;
      case RawClass::Comment:
        kind = SyntaxKind::Comment;
        break;
      case RawClass::String:
        kind = SyntaxKind::String;
        break;
      case RawClass::ByteOrderMark:
        kind = SyntaxKind::ByteOrderMark;
        break;
      case RawClass::ShellKeyword:
        kind = SyntaxKind::ShellKeyword;
        break;
      case RawClass::ShellTildeEquals:
        kind = SyntaxKind::ShellTildeEquals;
        break;
      case RawClass::Error:
        kind = SyntaxKind::Unknown;
        break;
      default: {
        constexpr std::array<SyntaxKind, 13> kPunctuation = {
            SyntaxKind::Bang,     SyntaxKind::Colon,    SyntaxKind::Question, SyntaxKind::Ampersand,
            SyntaxKind::Equals,   SyntaxKind::At,       SyntaxKind::LParen,   SyntaxKind::RParen,
            SyntaxKind::LBracket, SyntaxKind::RBracket, SyntaxKind::LBrace,   SyntaxKind::RBrace,
            SyntaxKind::Comma,
        };
        kind = kPunctuation[static_cast<size_t>(raw.raw)];
      }
    }
    tokens.emplace_back(kind, offset);
    at_line_start = kind == SyntaxKind::Newline;
    offset = raw.end;
  }
  return tokens;
}

}  // namespace quib::testing_support
