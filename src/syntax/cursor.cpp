// The token cursor: runs `lex` from offset 0 to the end and applies the only context the
// lexer has, whether a token starts a line. It does not look at items or grammar.
#include "syntax/cursor.h"

#include <array>
#include <cstdint>

#include "syntax/assert.h"
#include "syntax/lex.h"

namespace quib {
namespace {

constexpr size_t kRawClassCount = static_cast<size_t>(RawClass::Error) + 1;

// The kind of each raw class when context does not matter. Blank and Word are refined by the
// cursor itself.
constexpr std::array<SyntaxKind, kRawClassCount> kKindOfRaw = {
    SyntaxKind::Bang,          SyntaxKind::Colon,        SyntaxKind::Question,
    SyntaxKind::Ampersand,     SyntaxKind::Equals,       SyntaxKind::At,
    SyntaxKind::LParen,        SyntaxKind::RParen,       SyntaxKind::LBracket,
    SyntaxKind::RBracket,      SyntaxKind::LBrace,       SyntaxKind::RBrace,
    SyntaxKind::Comma,         SyntaxKind::Word,         SyntaxKind::Whitespace,
    SyntaxKind::Newline,       SyntaxKind::Comment,      SyntaxKind::String,
    SyntaxKind::ByteOrderMark, SyntaxKind::ShellKeyword, SyntaxKind::ShellTildeEquals,
    SyntaxKind::Unknown,
};
static_assert(kKindOfRaw[static_cast<size_t>(RawClass::Comma)] == SyntaxKind::Comma &&
                  kKindOfRaw[static_cast<size_t>(RawClass::Error)] == SyntaxKind::Unknown,
              "raw class to kind table must follow the RawClass order");

// Generated documents and hand-written files average a little over four bytes per token;
// reserving for that avoids nearly all regrowth without holding much more than needed.
constexpr size_t kBytesPerTokenEstimate = 4;

}  // namespace

std::vector<Token> tokenize(std::string_view text) {
  QUIB_ASSERT(text.size() < (uint64_t{1} << 32), "documents must be shorter than 4 GiB");
  const auto size = static_cast<uint32_t>(text.size());
  std::vector<Token> tokens;
  tokens.reserve(size / kBytesPerTokenEstimate + 1);

  // Invariant: true exactly at offset 0 and right after a Newline token.
  bool at_line_start = true;
  uint32_t offset = 0;
  while (offset < size) {
    const RawToken raw = lex(text, offset);
    const std::string_view slice = text.substr(offset, raw.end - offset);
    SyntaxKind kind = kKindOfRaw[static_cast<size_t>(raw.raw)];
    if (raw.raw == RawClass::Blank && at_line_start) {
      kind = SyntaxKind::Indent;
    } else if (raw.raw == RawClass::Word && slice == "group") {
      kind = SyntaxKind::GroupKeyword;
    }
    tokens.push_back(Token{kind, SmallText(slice), TextRange(offset, raw.end)});
    at_line_start = kind == SyntaxKind::Newline;
    offset = raw.end;
  }
  tokens.push_back(Token{SyntaxKind::Eof, SmallText(), TextRange(size, size)});
  return tokens;
}

}  // namespace quib
