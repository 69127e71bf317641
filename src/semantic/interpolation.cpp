// Scanning for "{{ name }}" references: one forward pass with substring search.
#include "semantic/interpolation.h"

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

// The trimmed name inside `text[inner_start, inner_end)`; an empty name sits at `inner_start`.
TextRange trimmed_name(std::string_view text, size_t inner_start, size_t inner_end) {
  const std::string_view inner = text.substr(inner_start, inner_end - inner_start);
  const std::string_view name = trim_unicode_whitespace(inner);
  const auto start = static_cast<uint32_t>(
      inner_start + (name.empty() ? 0 : static_cast<size_t>(name.data() - inner.data())));
  return TextRange(start, start + static_cast<uint32_t>(name.size()));
}

}  // namespace

std::optional<FoundInterpolation> next_interpolation(std::string_view text, size_t from) {
  for (size_t start = text.find(kOpen, from); start != std::string_view::npos;
       start = text.find(kOpen, start + kOpen.size())) {
    if (is_escaped(text, start)) continue;
    const size_t inner = start + kOpen.size();
    const size_t close = text.find(kClose, inner);
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
