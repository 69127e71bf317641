// Finds "{{ name }}" variable references in command and metadata texts. Does not resolve the
// names (the checks do) and does not unescape anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/text_range.h"

namespace quib {

// One reference. `name` is the text between the braces, trimmed of white space, as a view of
// the scanned text (valid while that text lives); it may be empty or hold inner spaces and is
// not validated.
// `range` runs from the first "{" to just after the last "}", in byte offsets of the scanned
// text (not of the document, unless the whole document was scanned).
struct Interpolation {
  std::string_view name;
  TextRange range;

  bool operator==(const Interpolation&) const = default;
};

// The first reference that starts at or after `from`, or nothing: `range` as in Interpolation,
// `name` as `interpolation_name_range` gives it, both in offsets of `text`, and `resume`, the
// offset where the search for the next reference starts. An opening "{{" preceded by an odd
// number of backslashes is escaped and skipped; the first "}}" after an opening closes it, so
// references do not nest ("{{a {{b}}" is one reference named "a {{b"). An opening with no "}}"
// after it ends the search.
struct FoundInterpolation {
  TextRange range;
  TextRange name;
  size_t resume = 0;
};
std::optional<FoundInterpolation> next_interpolation(std::string_view text, size_t from);

// Calls `visit(range, name_range)` for each reference in order of appearance, without building
// a list (see `next_interpolation`).
template <typename Visit>
void for_each_interpolation(std::string_view text, Visit&& visit) {
  for (auto found = next_interpolation(text, 0); found;
       found = next_interpolation(text, found->resume)) {
    visit(found->range, found->name);
  }
}

// The references `for_each_interpolation` visits, as a list.
std::vector<Interpolation> scan_interpolations(std::string_view text);
// The same references, added at the end of `into`.
void append_interpolations(std::string_view text, std::vector<Interpolation>& into);

// Byte range of the trimmed name inside `interpolation`, in offsets of `text`. Empty names give
// an empty range just inside the opening braces. Nothing when the record's range does not fit
// in `text` or is too short to hold both pairs of braces.
std::optional<TextRange> interpolation_name_range(std::string_view text,
                                                  const Interpolation& interpolation);

}  // namespace quib
