// Half-open byte ranges into UTF-8 document text. Every range below the protocol boundary is one.
#pragma once

#include <cstdint>

#include "syntax/assert.h"

namespace quib {

// [start, end) in bytes of the UTF-8 text (not characters, not UTF-16 units).
// Invariant: start <= end.
struct TextRange {
  uint32_t start = 0;
  uint32_t end = 0;

  constexpr TextRange() = default;
  constexpr TextRange(uint32_t start, uint32_t end) : start(start), end(end) {
    QUIB_ASSERT(start <= end, "text range start must not be after its end");
  }

  constexpr uint32_t len() const { return end - start; }
  constexpr bool empty() const { return start == end; }
  // Half-open: the end offset itself is outside the range.
  constexpr bool contains(uint32_t offset) const { return start <= offset && offset < end; }
  // Like contains, but the end offset counts as inside (a cursor just after the last byte).
  constexpr bool contains_inclusive(uint32_t offset) const {
    return start <= offset && offset <= end;
  }
  constexpr bool operator==(const TextRange&) const = default;
};

}  // namespace quib
