// SyntaxKind: one enumeration for tokens (0..24) and nodes (25..38), generated from
// syntax_kind.def, plus the kind sets the parser and views test against.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace quib {

enum class SyntaxKind : uint16_t {
#define QUIB_TOKEN(name, value, example) name = value,
#define QUIB_NODE(name, value, example) name = value,
#include "syntax/syntax_kind.def"
#undef QUIB_TOKEN
#undef QUIB_NODE
};

inline constexpr uint16_t kSyntaxKindCount = 39;

constexpr bool is_token_kind(SyntaxKind kind) {
  return static_cast<uint16_t>(kind) <= 24;
}
constexpr bool is_node_kind(SyntaxKind kind) {
  return static_cast<uint16_t>(kind) >= 25 && static_cast<uint16_t>(kind) < kSyntaxKindCount;
}

// A set of kinds as a bit mask over their fixed values.
class KindSet {
 public:
  constexpr KindSet() = default;
  constexpr KindSet(std::initializer_list<SyntaxKind> kinds) {
    for (SyntaxKind k : kinds) bits_ |= uint64_t{1} << static_cast<uint16_t>(k);
  }
  constexpr bool contains(SyntaxKind kind) const {
    return (bits_ >> static_cast<uint16_t>(kind)) & 1u;
  }

 private:
  uint64_t bits_ = 0;
};

// ByteOrderMark, Comment, Whitespace, Newline, Indent.
inline constexpr KindSet kTriviaKinds{SyntaxKind::ByteOrderMark, SyntaxKind::Comment,
                                      SyntaxKind::Whitespace, SyntaxKind::Newline,
                                      SyntaxKind::Indent};
// Trivia that stays on the current line.
inline constexpr KindSet kBlankKinds{SyntaxKind::ByteOrderMark, SyntaxKind::Comment,
                                     SyntaxKind::Whitespace, SyntaxKind::Indent};
// Spaces and tabs: the blanks between the tokens of a line and before its first.
inline constexpr KindSet kSpaceKinds{SyntaxKind::Whitespace, SyntaxKind::Indent};
inline constexpr KindSet kLineEndKinds{SyntaxKind::Newline, SyntaxKind::Eof};

// The name of a kind as written in the list ("TaskHeader"), for tree dumps and tests.
std::string_view kind_name(SyntaxKind kind);

}  // namespace quib
