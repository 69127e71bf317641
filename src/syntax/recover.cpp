#include "syntax/recover.h"

#include "syntax/assert.h"

namespace quib {

void KindCursor::advance() {
  QUIB_ASSERT(!at_eof(), "advance should only be called with non-empty input");
  ++pos_;
}

bool KindCursor::line_has_content() const {
  KindCursor c = *this;
  c.skip(kBlankKinds);
  return !c.at_line_end();
}

bool KindCursor::line_contains(SyntaxKind kind) const {
  for (uint32_t i = pos_; i < kinds_.size() && !kLineEndKinds.contains(kinds_[i]); ++i) {
    if (kinds_[i] == kind) return true;
  }
  return false;
}

void KindCursor::skip_line() {
  while (!at_line_end()) ++pos_;
  if (at(SyntaxKind::Newline)) ++pos_;
}

bool KindCursor::is_group_boundary_line() const {
  if (!at(SyntaxKind::Indent)) return false;
  KindCursor c = *this;
  c.skip({SyntaxKind::Indent, SyntaxKind::Whitespace});
  if (c.at(SyntaxKind::RBrace)) {
    c.advance();
    c.skip({SyntaxKind::Whitespace});
    return c.at_line_end();
  }
  if (!c.at(SyntaxKind::GroupKeyword) || c.peek(1) != SyntaxKind::Whitespace ||
      c.peek(2) != SyntaxKind::Word) {
    return false;
  }
  c = c.at_pos(c.pos() + 3);
  c.skip({SyntaxKind::Whitespace});
  if (!c.at(SyntaxKind::LBrace)) return false;
  c.advance();
  c.skip({SyntaxKind::Whitespace});
  return c.at_line_end();
}

}  // namespace quib
