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

// The kind of each raw class, by whether the token starts a line: only a blank run differs
// (Indent at a line start, Whitespace elsewhere). `group` is told apart by the cursor.
constexpr std::array<std::array<SyntaxKind, kRawClassCount>, 2> kKindOfRaw = [] {
  std::array<std::array<SyntaxKind, kRawClassCount>, 2> table{};
  constexpr std::array<SyntaxKind, kRawClassCount> kinds = {
      SyntaxKind::Bang,          SyntaxKind::Colon,        SyntaxKind::Question,
      SyntaxKind::Ampersand,     SyntaxKind::Equals,       SyntaxKind::At,
      SyntaxKind::LParen,        SyntaxKind::RParen,       SyntaxKind::LBracket,
      SyntaxKind::RBracket,      SyntaxKind::LBrace,       SyntaxKind::RBrace,
      SyntaxKind::Comma,         SyntaxKind::Word,         SyntaxKind::Whitespace,
      SyntaxKind::Newline,       SyntaxKind::Comment,      SyntaxKind::String,
      SyntaxKind::ByteOrderMark, SyntaxKind::ShellKeyword, SyntaxKind::ShellTildeEquals,
      SyntaxKind::Unknown,
  };
  table[0] = kinds;
  table[1] = kinds;
  table[1][static_cast<size_t>(RawClass::Blank)] = SyntaxKind::Indent;
  return table;
}();
static_assert(kKindOfRaw[0][static_cast<size_t>(RawClass::Comma)] == SyntaxKind::Comma &&
                  kKindOfRaw[0][static_cast<size_t>(RawClass::Error)] == SyntaxKind::Unknown,
              "raw class to kind table must follow the RawClass order");

// Quibfiles average about two and a half bytes per token (single spaces, punctuation and
// one-character Unknown tokens are frequent), so reserving one token per two bytes makes
// regrowth rare: moving half a list of tokens costs more than the unused tail.
constexpr size_t kBytesPerTokenEstimate = 2;

// The kind of the one-byte token that a byte always is, whatever stands around it: a
// punctuation mark, a line feed, or an ASCII byte no rule accepts (digits, `$`, `.`, `/`...);
// Eof for every other byte. Command lines are mostly such tokens, so the cursor takes them here
// without asking the recogniser.
constexpr std::array<SyntaxKind, 256> kOneByteKind = [] {
  std::array<SyntaxKind, 256> table{};
  table.fill(SyntaxKind::Eof);
  constexpr std::string_view punctuation = "!:?&=@()[]{},";
  for (size_t i = 0; i < punctuation.size(); ++i) {
    table[static_cast<uint8_t>(punctuation[i])] = kKindOfRaw[0][i];
  }
  table['\n'] = SyntaxKind::Newline;
  for (int c = 0; c < 0x80; ++c) {
    const bool word_start =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
    const bool other_rule = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#' || c == '"';
    if (!word_start && !other_rule && table[c] == SyntaxKind::Eof) table[c] = SyntaxKind::Unknown;
  }
  return table;
}();

// Drives `lex` over the text from `begin`, a line start, and reports each token as
// (kind, start, slice), Eof excluded.
template <typename Emit>
void for_each_token(std::string_view text, uint32_t begin, Emit&& emit) {
  QUIB_ASSERT(text.size() < (uint64_t{1} << 32), "documents must be shorter than 4 GiB");
  const auto size = static_cast<uint32_t>(text.size());
  // Invariant: true exactly at `begin` and right after a Newline token.
  bool at_line_start = true;
  uint32_t offset = begin;
  while (offset < size) {
    const SyntaxKind one_byte = kOneByteKind[static_cast<uint8_t>(text[offset])];
    if (one_byte != SyntaxKind::Eof) {
      emit(one_byte, offset, text.substr(offset, 1));
      at_line_start = one_byte == SyntaxKind::Newline;
      ++offset;
      continue;
    }
    const RawToken raw = lex(text, offset);
    const std::string_view slice(text.data() + offset, raw.end - offset);
    SyntaxKind kind = kKindOfRaw[at_line_start][static_cast<size_t>(raw.raw)];
    if (raw.raw == RawClass::Word && slice == "group") kind = SyntaxKind::GroupKeyword;
    emit(kind, offset, slice);
    at_line_start = kind == SyntaxKind::Newline;
    offset = raw.end;
  }
}

}  // namespace

std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  tokens.reserve(text.size() / kBytesPerTokenEstimate + 1);
  for_each_token(text, 0, [&](SyntaxKind kind, uint32_t start, std::string_view slice) {
    // Braces, not emplace_back's parentheses: clang 14 cannot aggregate-initialise from
    // parentheses. Moving a SmallText is a 24-byte copy.
    tokens.push_back(Token{SmallText(slice), start, kind});
  });
  const auto size = static_cast<uint32_t>(text.size());
  tokens.push_back(Token{SmallText(), size, SyntaxKind::Eof});
  return tokens;
}

TokenList tokenize_compact(std::shared_ptr<const std::string> text) {
  const auto size = static_cast<uint32_t>(text->size());
  return tokenize_compact(std::move(text), 0, size);
}

TokenList tokenize_compact(std::shared_ptr<const std::string> text, uint32_t begin, uint32_t end) {
  QUIB_ASSERT(begin <= end && end <= text->size() && (begin == 0 || (*text)[begin - 1] == '\n') &&
                  (end == text->size() || (*text)[end - 1] == '\n'),
              "a part of a text must run from a line start to a line end");
  std::vector<SyntaxKind> kinds;
  std::vector<uint32_t> starts;
  kinds.reserve((end - begin) / kBytesPerTokenEstimate + 1);
  starts.reserve((end - begin) / kBytesPerTokenEstimate + 1);
  // No token spans a line feed, so the tokens of the part are those of the whole text there;
  // the lexer never looks past `end`.
  const std::string_view part = std::string_view(*text).substr(0, end);
  for_each_token(part, begin, [&](SyntaxKind kind, uint32_t start, std::string_view) {
    kinds.push_back(kind);
    starts.push_back(start);
  });
  kinds.push_back(SyntaxKind::Eof);
  starts.push_back(end);
  return TokenList(std::move(text), std::move(kinds), std::move(starts));
}

}  // namespace quib
