// Scanning for "{{ name }}" references: one forward pass from brace pair to brace pair.
#include "semantic/interpolation.h"

#include <cstring>

#include "syntax/text_util.h"

namespace quib {

namespace {

constexpr std::string_view kOpen = "{{";
constexpr std::string_view kClose = "}}";

// True when an odd number of backslashes stands directly before `at`.
bool is_escaped(std::string_view text, size_t at) {
  size_t backslashes = 0;
  while (backslashes < at && text[at - backslashes - 1] == '\\') {
    ++backslashes;
  }
  return backslashes % 2 == 1;
}

bool is_ascii_space(char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// The trimmed name inside `text[inner_start, inner_end)`; an empty name sits at `inner_start`.
// The blanks around a name are nearly always ASCII and are stepped over here; the full trim
// then sees the name's own edges.
TextRange trimmed_name(std::string_view text, size_t inner_start, size_t inner_end) {
  size_t start = inner_start;
  size_t end = inner_end;
  while (start < end && is_ascii_space(text[start])) ++start;
  while (end > start && is_ascii_space(text[end - 1])) --end;
  const std::string_view inner = text.substr(start, end - start);
  const std::string_view name = trim_unicode_whitespace(inner);
  const auto name_start = static_cast<uint32_t>(
      name.empty() ? inner_start : start + static_cast<size_t>(name.data() - inner.data()));
  return TextRange(name_start, name_start + static_cast<uint32_t>(name.size()));
}

// The offset of the first `pair` of equal bytes at or after `from`, or npos: one byte found at a
// time, then its follower checked, which beats a general substring search on short texts.
size_t find_pair(std::string_view text, size_t from, char pair) {
  const char* const data = text.data();
  while (from + 1 < text.size()) {
    const void* found = std::memchr(data + from, pair, text.size() - from - 1);
    if (found == nullptr) return std::string_view::npos;
    const auto at = static_cast<size_t>(static_cast<const char*>(found) - data);
    if (data[at + 1] == pair) return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<FoundInterpolation> next_interpolation(std::string_view text, size_t from) {
  for (size_t start = find_pair(text, from, '{'); start != std::string_view::npos;
       start = find_pair(text, start + kOpen.size(), '{')) {
    if (is_escaped(text, start)) continue;
    const size_t inner = start + kOpen.size();
    const size_t close = find_pair(text, inner, '}');
    if (close == std::string_view::npos) return std::nullopt;
    const size_t end = close + kClose.size();
    return FoundInterpolation{TextRange(static_cast<uint32_t>(start), static_cast<uint32_t>(end)),
                              trimmed_name(text, inner, close), end};
  }
  return std::nullopt;
}

std::vector<Interpolation> scan_interpolations(std::string_view text) {
  std::vector<Interpolation> found;
  append_interpolations(text, found);
  return found;
}

void append_interpolations(std::string_view text, std::vector<Interpolation>& into) {
  for_each_interpolation(text, [&](TextRange range, TextRange name) {
    into.push_back(Interpolation{text.substr(name.start, name.len()), range});
  });
}

std::optional<TextRange> interpolation_name_range(std::string_view text,
                                                  const Interpolation& interpolation) {
  const TextRange range = interpolation.range;
  if (range.end > text.size() || range.len() < kOpen.size() + kClose.size()) {
    return std::nullopt;
  }
  return trimmed_name(text, range.start + kOpen.size(), range.end - kClose.size());
}

}  // namespace quib
