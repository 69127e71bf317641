#include "lsp/declared_names.h"

#include <algorithm>
#include <optional>

#include "syntax/assert.h"

namespace quib::lsp {
namespace {

// Enough text per scanned window for the few items around a line, without reading far past
// the point where the scan rejoins the whole parse.
constexpr size_t kScanWindowBytes = 4096;

// The parser's group state after `item`, given the state before it.
bool group_after(const ScannedItem& item, bool inside_group) {
  if (!item.well_formed) return inside_group;
  if (item.item_class == ItemClass::GroupOpen) return true;
  if (item.item_class == ItemClass::GroupClose) return false;
  return inside_group;
}

// The group a task of the model falls in, as a view into the model.
std::optional<std::string_view> group_of(const TaskDecl& task) {
  if (!task.group) return std::nullopt;
  return *task.group;
}

DeclaredTask declared(const TaskDecl& task, uint32_t shift) {
  return {task.name, group_of(task), TextRange(task.range.start - shift, task.range.end - shift)};
}

}  // namespace

DeclaredNames declared_names_without(const SemanticModel& model, std::string_view text,
                                     size_t line_start, size_t line_end) {
  const std::string_view before = text.substr(0, line_start);
  const std::string_view after = text.substr(line_end);
  const auto removed = static_cast<uint32_t>(line_end - line_start);
  // The bytes of a one-line range of the text without the line: the removed line ends with a
  // line feed, so no such range runs across it, and every one lies in `text` as it is.
  const auto joined_slice = [&](TextRange range) {
    const uint32_t shift = range.start < line_start ? 0 : removed;
    QUIB_ASSERT(range.start >= line_start || range.end <= line_start,
                "a one-line range does not run across the removed line");
    return text.substr(range.start + shift, range.len());
  };
  // The start of the line of `offset` when only blanks come before it there.
  const auto line_of = [&](uint32_t offset) -> std::optional<uint32_t> {
    uint32_t start = offset;
    while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
    if (start > 0 && text[start - 1] != '\n') return std::nullopt;
    return start;
  };
  const std::vector<TaskDecl>& tasks = model.tasks;

  // An item of the whole text that ends before the line above the removed one reads no further
  // than that line's end, so it is an item of the shortened text too. The scan starts at the
  // line of the last task there that only blanks precede on its line, in the group state before
  // it; the tasks and groups before it are the model's.
  size_t previous_line = 0;
  if (line_start >= 2) {
    const size_t feed = text.rfind('\n', line_start - 2);
    previous_line = feed == std::string_view::npos ? 0 : feed + 1;
  }
  size_t first_scanned =
      static_cast<size_t>(std::upper_bound(tasks.begin(), tasks.end(), previous_line,
                                           [](size_t offset, const TaskDecl& task) {
                                             return offset < task.range.start;
                                           }) -
                          tasks.begin());
  while (first_scanned > 0 && !line_of(tasks[first_scanned - 1].range.start)) --first_scanned;
  ScanStart start;
  std::optional<std::string_view> open_group;
  if (first_scanned > 0) {
    const TaskDecl& task = tasks[--first_scanned];
    start = ScanStart{*line_of(task.range.start), task.group.has_value()};
    open_group = group_of(task);
  }

  DeclaredNames names;
  names.tasks.reserve(tasks.size());
  for (size_t i = 0; i < first_scanned; ++i) names.tasks.push_back(declared(tasks[i], 0));
  for (const GroupDecl& group : model.groups) {
    if (group.range.start >= start.offset) break;
    names.groups.push_back(group.name);
  }

  // Once the scan begins an item after only blanks on its line where the whole text begins a
  // task at the same text, in the same group state and the same named group, the rest is the
  // model's, shifted by the line: the parses agree from that line on, and so do the groups the
  // tasks fall in.
  DeclaredNamesReader scanned(open_group);
  std::optional<uint32_t> rejoined;  // where the rest starts in the whole text
  size_t probe = first_scanned;
  bool inside_group = start.inside_group;
  scan_items(
      before, after,
      [&](const ScannedItem& item) {
        const uint32_t at = item.range.start + removed;
        if (item.range.start >= line_start && line_of(at)) {
          while (probe < tasks.size() && tasks[probe].range.start < at) ++probe;
          if (probe < tasks.size() && tasks[probe].range.start == at &&
              tasks[probe].group.has_value() == inside_group &&
              group_of(tasks[probe]) == scanned.open_group()) {
            rejoined = at;
            return false;
          }
        }
        scanned.take(item, joined_slice);
        inside_group = group_after(item, inside_group);
        return true;
      },
      kScanWindowBytes, start);
  DeclaredNames middle = scanned.finish();
  names.tasks.insert(names.tasks.end(), middle.tasks.begin(), middle.tasks.end());
  names.groups.insert(names.groups.end(), middle.groups.begin(), middle.groups.end());
  if (rejoined) {
    for (size_t i = probe; i < tasks.size(); ++i) {
      names.tasks.push_back(declared(tasks[i], removed));
    }
    for (const GroupDecl& group : model.groups) {
      if (group.range.start >= *rejoined) names.groups.push_back(group.name);
    }
  }
  return names;
}

}  // namespace quib::lsp
