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

}  // namespace

std::vector<Interpolation> scan_interpolations(std::string_view text) {
  std::vector<Interpolation> found;
  size_t pos = 0;
  for (size_t start = text.find(kOpen); start != std::string_view::npos;
       start = text.find(kOpen, pos)) {
    pos = start + kOpen.size();
    if (is_escaped(text, start)) {
      continue;
    }
    const size_t close = text.find(kClose, pos);
    if (close == std::string_view::npos) {
      break;
    }
    const std::string_view name = trim_unicode_whitespace(text.substr(pos, close - pos));
    pos = close + kClose.size();
    found.push_back(Interpolation{
        std::string(name), TextRange(static_cast<uint32_t>(start), static_cast<uint32_t>(pos))});
  }
  return found;
}

std::optional<TextRange> interpolation_name_range(std::string_view text,
                                                  const Interpolation& interpolation) {
  const TextRange range = interpolation.range;
  if (range.end > text.size() || range.len() < kOpen.size() + kClose.size()) {
    return std::nullopt;
  }
  const uint32_t inner_start = range.start + static_cast<uint32_t>(kOpen.size());
  const std::string_view inner =
      text.substr(inner_start, range.len() - kOpen.size() - kClose.size());
  const std::string_view name = trim_unicode_whitespace(inner);
  // An all-space inner text trims to nothing; its empty name sits right after the braces.
  const auto name_start =
      static_cast<uint32_t>(name.empty() ? 0 : name.data() - inner.data()) + inner_start;
  return TextRange(name_start, name_start + static_cast<uint32_t>(name.size()));
}

}  // namespace quib
