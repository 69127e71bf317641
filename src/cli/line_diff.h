// A unified diff of two texts, compared line by line, for `quib fmt --diff`. Knows nothing of
// Quibfile or files.
#pragma once

#include <string>
#include <string_view>

namespace quib::cli {

// Lines of context around each change; hunks closer than twice this are merged.
inline constexpr size_t kDiffContext = 3;

// The unified diff that turns `before` into `after`: "--- old_label", "+++ new_label", then
// hunks "@@ -start,count +start,count @@" with ' ', '-' and '+' lines. A last line without
// line feed is followed by "\ No newline at end of file", as `patch` expects. Empty when the
// texts are equal. The edit script is a shortest one (Myers' algorithm in linear space), so
// time grows with the file size times the number of changed lines.
std::string unified_diff(std::string_view before, std::string_view after,
                         std::string_view old_label, std::string_view new_label);

}  // namespace quib::cli
