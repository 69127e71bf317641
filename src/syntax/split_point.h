// Where a large text may be cut in two, so that its parts can be parsed on two threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quib {

// A proposed cut: a line start, and a guess of whether a group is open there.
struct SplitPoint {
  uint32_t offset;
  bool inside_group;
};

// A line start at or past `from` (by default the middle of `text`) where a top-level item most
// likely starts: a line after an empty one that starts with an ASCII letter or `[` at the left
// margin (a task, group or metadata line). The group guess comes from the nearest earlier line
// that opens or closes a group. Only a proposal: the parser checks it against the first part's
// items, so a wrong one costs time, never a different tree. None when no such line lies within
// a quarter of the text after `from`.
std::optional<SplitPoint> find_split_point(std::string_view text);
std::optional<SplitPoint> find_split_point(std::string_view text, size_t from);

}  // namespace quib
