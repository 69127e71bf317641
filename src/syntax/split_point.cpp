#include "syntax/split_point.h"

#include <algorithm>
#include <cstring>

namespace quib {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool starts_item_line(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '[';
}

// The line's content after its leading blanks: whether it opens a group (`group` and a blank)
// or closes one (`}`); nothing for any other line.
std::optional<bool> group_line_opens(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  line.remove_prefix(i);
  if (line.starts_with('}')) return false;
  if (line.starts_with("group") && line.size() > 5 && is_blank(line[5])) return true;
  return std::nullopt;
}

// Whether the nearest line before `offset` (a line start) that opens or closes a group opens
// one.
bool group_open_before(std::string_view text, size_t offset) {
  size_t end = offset;
  while (end > 0) {
    const void* found = end >= 2 ? memrchr(text.data(), '\n', end - 1) : nullptr;
    const size_t start = found ? static_cast<const char*>(found) - text.data() + 1 : 0;
    if (std::optional<bool> opens = group_line_opens(text.substr(start, end - start))) {
      return *opens;
    }
    end = start;
  }
  return false;
}

}  // namespace

std::optional<SplitPoint> find_split_point(std::string_view text) {
  return find_split_point(text, text.size() / 2);
}

std::optional<SplitPoint> find_split_point(std::string_view text, size_t from) {
  const size_t limit = std::min(text.size(), from + text.size() / 4);
  size_t pos = from;
  while (pos < limit) {
    const void* found = std::memchr(text.data() + pos, '\n', limit - pos);
    if (!found) break;
    const size_t feed = static_cast<const char*>(found) - text.data();
    pos = feed + 1;
    // An empty line: "\n\n" or "\n\r\n".
    size_t next = pos;
    if (next < text.size() && text[next] == '\r') ++next;
    if (next >= text.size() || text[next] != '\n') continue;
    const size_t line = next + 1;
    if (line < text.size() && starts_item_line(text[line])) {
      return SplitPoint{static_cast<uint32_t>(line), group_open_before(text, line)};
    }
  }
  return std::nullopt;
}

}  // namespace quib
