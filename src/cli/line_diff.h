// A unified diff of two texts, compared line by line, for `quib fmt --diff`. Knows nothing of
// Quibfile or files.
#pragma once

#include <string>
#include <string_view>

namespace quib::cli {

// Lines of context around each change; hunks closer than twice this are merged.
inline constexpr size_t kDiffContext = 3;

// Steps of the search for a shortest edit script before it settles for a good one.
inline constexpr size_t kDiffSearchLimit = 256;

// The unified diff that turns `before` into `after`: "--- old_label", "+++ new_label", then
// hunks "@@ -start,count +start,count @@" with ' ', '-' and '+' lines. A last line without
// line feed is followed by "\ No newline at end of file", as `patch` expects. Empty when the
// texts are equal. The edit script is a shortest one (Myers' algorithm in linear space) as long
// as each stretch the search splits off differs by fewer than about 2 * `search_limit` lines;
// beyond that a split is taken where the search has got furthest, so that the time grows with
// the file size times `search_limit` at most, not times the number of changed lines.
std::string unified_diff(std::string_view before, std::string_view after,
                         std::string_view old_label, std::string_view new_label,
                         size_t search_limit = kDiffSearchLimit);

}  // namespace quib::cli
