// Line-level operations over the parser's kind array, used to decide where an item ends and
// to skip the rest of a line. They look at token kinds only, never at texts.
#pragma once

#include <cstdint>
#include <span>

#include "syntax/syntax_kind.h"

namespace quib {

// The index of the first `kind` in `kinds` at or after `from`, or `kinds.size()` if none.
// Lines run to a dozen tokens and more, so eight kinds are compared at a time.
uint32_t find_kind(std::span<const SyntaxKind> kinds, uint32_t from, SyntaxKind kind);

// A read position in the kind array of one parse. The array always ends with Eof, so
// peeking at the current position is always defined; positions never pass the Eof.
class KindCursor {
 public:
  explicit KindCursor(std::span<const SyntaxKind> kinds, uint32_t pos = 0)
      : kinds_(kinds), pos_(pos) {}

  uint32_t pos() const { return pos_; }
  SyntaxKind peek() const { return kinds_[pos_]; }
  // The kind `n` tokens ahead, or Eof past the end.
  SyntaxKind peek(uint32_t n) const {
    return pos_ + n < kinds_.size() ? kinds_[pos_ + n] : SyntaxKind::Eof;
  }
  bool at(SyntaxKind kind) const { return peek() == kind; }
  bool at_line_end() const { return kLineEndKinds.contains(peek()); }
  bool at_eof() const { return peek() == SyntaxKind::Eof; }
  KindCursor at_pos(uint32_t pos) const { return KindCursor(kinds_, pos); }

  // Moves one token. Calling it at Eof is an internal error.
  void advance();
  // Moves past every token whose kind is in `kinds`.
  void skip(KindSet kinds) {
    while (kinds.contains(peek())) ++pos_;
  }

  // True if the rest of the line holds a token other than blanks and comments.
  bool line_has_content() const;
  // True if `kind` occurs before the next Newline or Eof.
  bool line_contains(SyntaxKind kind) const;
  // Moves past the next Newline (included) or up to Eof (not consumed).
  void skip_line();
  // A line that opens or closes a group while indented: Indent, then `}` and only blanks, or
  // `group name {` and only blanks. Must be called at the start of a line.
  bool is_group_boundary_line() const;

 private:
  std::span<const SyntaxKind> kinds_;
  uint32_t pos_;
};

}  // namespace quib
