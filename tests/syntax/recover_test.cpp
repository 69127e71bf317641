// The line searches over kind arrays, at every place a kind can stand relative to the blocks
// of eight kinds that are compared at once, checked against a plain scan.
#include <gtest/gtest.h>

#include <vector>

#include "syntax/recover.h"

namespace quib {
namespace {

using K = SyntaxKind;

// Words, with Newlines at `newlines`, then the closing Eof.
std::vector<SyntaxKind> kinds_with_newlines(uint32_t words, const std::vector<uint32_t>& newlines) {
  std::vector<SyntaxKind> kinds(words, K::Word);
  for (uint32_t at : newlines) kinds[at] = K::Newline;
  kinds.push_back(K::Eof);
  return kinds;
}

uint32_t plain_find(const std::vector<SyntaxKind>& kinds, uint32_t from, SyntaxKind kind) {
  while (from < kinds.size() && kinds[from] != kind) ++from;
  return from;
}

TEST(FindKind, AgreesWithAPlainScanAroundEveryBlockBoundary) {
  for (uint32_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u}) {
    for (uint32_t newline = 0; newline <= length; ++newline) {
      // `newline == length` puts none: the Eof then ends the only line.
      const std::vector<SyntaxKind> kinds = newline < length
                                                ? kinds_with_newlines(length, {newline})
                                                : kinds_with_newlines(length, {});
      for (uint32_t from = 0; from < kinds.size(); ++from) {
        EXPECT_EQ(find_kind(kinds, from, K::Newline), plain_find(kinds, from, K::Newline))
            << "length " << length << ", newline " << newline << ", from " << from;
        KindCursor cursor(kinds, from);
        cursor.skip_line();
        const uint32_t end = plain_find(kinds, from, K::Newline);
        EXPECT_EQ(cursor.pos(), end < kinds.size() ? end + 1 : kinds.size() - 1)
            << "length " << length << ", newline " << newline << ", from " << from;
      }
    }
  }
}

TEST(FindKind, FindsTheFirstOfSeveralInOneBlock) {
  const std::vector<SyntaxKind> kinds = kinds_with_newlines(20, {3, 5, 11, 12});
  EXPECT_EQ(find_kind(kinds, 0, K::Newline), 3u);
  EXPECT_EQ(find_kind(kinds, 4, K::Newline), 5u);
  EXPECT_EQ(find_kind(kinds, 6, K::Newline), 11u);
  EXPECT_EQ(find_kind(kinds, 13, K::Newline), kinds.size());
  EXPECT_EQ(find_kind(kinds, 0, K::Eof), 20u);
}

}  // namespace
}  // namespace quib
