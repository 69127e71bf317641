// IndexTable: the whole-file lookups of lowering and the checks (tasks by qualified name, by
// signature, ...) as one open-addressing array of item indices. The items stay in the model's
// lists; the table holds no copies of names and makes no node per entry, so building it is one
// allocation however many tasks a file has.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "syntax/assert.h"

namespace quib {

// Hashes for IndexTable callers: one text, and the mixing of a further part into a hash.
inline size_t hash_text(std::string_view text) {
  return std::hash<std::string_view>{}(text);
}
inline size_t hash_combine(size_t seed, size_t value) {
  return seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
}

// A set of item indices under a caller-given hash and equality. The caller passes each item's
// hash with it and a predicate telling whether a stored index holds an item equal to the one
// asked about; equal items must have equal hashes.
// Invariant: at most `capacity` indices are inserted, so at least half the slots stay empty and
// every probe ends.
class IndexTable {
 public:
  explicit IndexTable(size_t capacity)
      : slots_(std::bit_ceil(2 * capacity + 2)), mask_(slots_.size() - 1), capacity_(capacity) {}

  // The index stored for an item equal to the one asked about, or nothing. `equal(index)` says
  // whether stored `index` is such an item.
  template <typename Equal>
  std::optional<uint32_t> find(size_t hash, Equal&& equal) const {
    for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
      const Slot& slot = slots_[at];
      if (slot.index_plus_one == 0) return std::nullopt;
      if (slot.hash == static_cast<uint32_t>(hash) && equal(slot.index_plus_one - 1)) {
        return slot.index_plus_one - 1;
      }
    }
  }

  // Stores `index` unless an equal item is already stored, and returns the index that stands for
  // the item: `index` itself, or the one stored first.
  template <typename Equal>
  uint32_t insert(size_t hash, uint32_t index, Equal&& equal) {
    for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
      Slot& slot = slots_[at];
      if (slot.index_plus_one == 0) {
        QUIB_ASSERT(size_ < capacity_, "index table filled beyond its capacity");
        slot = Slot{index + 1, static_cast<uint32_t>(hash)};
        ++size_;
        return index;
      }
      if (slot.hash == static_cast<uint32_t>(hash) && equal(slot.index_plus_one - 1)) {
        return slot.index_plus_one - 1;
      }
    }
  }

 private:
  struct Slot {
    uint32_t index_plus_one = 0;  // 0: empty
    uint32_t hash = 0;            // low bits of the item's hash, to skip most comparisons
  };
  std::vector<Slot> slots_;
  size_t mask_;
  size_t capacity_;
  size_t size_ = 0;
};

}  // namespace quib
