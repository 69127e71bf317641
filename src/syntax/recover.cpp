#include "syntax/recover.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "syntax/assert.h"

namespace quib {

uint32_t find_kind(std::span<const SyntaxKind> kinds, uint32_t from, SyntaxKind kind) {
  const auto size = static_cast<uint32_t>(kinds.size());
  uint32_t i = from;
#if defined(__SSE2__)
  static_assert(sizeof(SyntaxKind) == 2, "eight kinds fill a 16-byte lane");
  const __m128i wanted = _mm_set1_epi16(static_cast<int16_t>(kind));
  for (; i + 8 <= size; i += 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kinds.data() + i));
    const auto found = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(eight, wanted)));
    if (found != 0) return i + static_cast<uint32_t>(std::countr_zero(found)) / 2;
  }
#endif
  while (i < size && kinds[i] != kind) ++i;
  return i;
}

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
  // Eof only ends the array, so the line ends at the next Newline or there.
  const uint32_t newline = find_kind(kinds_, pos_, SyntaxKind::Newline);
  pos_ = newline < kinds_.size() ? newline + 1 : static_cast<uint32_t>(kinds_.size() - 1);
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
