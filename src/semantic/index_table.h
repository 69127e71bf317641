// IndexTable: the whole-file lookups of lowering and the checks (tasks by qualified name, by
// signature, ...) as one open-addressing array of item indices. The items stay in the model's
// lists; the table holds no copies of names and makes no node per entry, so building it is one
// allocation however many tasks a file has.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "syntax/assert.h"

namespace quib {

// Hashes for IndexTable callers: one text, and the mixing of a further part into a hash.
// Names are short, so a text is read a word at a time (the last word overlapping the one
// before it, a short text as head and tail), with its length in the seed, so that equal
// words mean equal texts; the last mix spreads every byte into the low bits that probe.
inline size_t hash_text(std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  uint64_t h = 0x9E3779B97F4A7C15ull * (n + 1);
  const auto mix = [&h](uint64_t word) {
    h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
  };
  if (n >= 8) {
    uint64_t word;
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&word, p + i, 8);
      mix(word);
    }
    std::memcpy(&word, p + n - 8, 8);
    mix(word);
  } else if (n >= 4) {
    uint32_t head;
    uint32_t tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    mix(head | uint64_t{tail} << 32);
  } else if (n != 0) {
    const auto byte = [p](size_t i) { return uint64_t{static_cast<unsigned char>(p[i])}; };
    mix(byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16);
  }
  h *= 0x94D049BB133111EBull;
  return h ^ (h >> 32);
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
