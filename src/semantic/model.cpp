// The computed parts of the document model: qualified names, display signatures and the mapping
// from command text offsets back to the document.
#include "semantic/model.h"

#include <algorithm>
#include <cstring>

#include "syntax/assert.h"

namespace quib {

std::string TaskDecl::qualified_name() const {
  if (!group) return name;
  std::string qualified = *group;
  qualified += '.';
  qualified += name;
  return qualified;
}

std::string TaskDecl::task_signature() const {
  std::string signature = name;
  signature += '(';
  for (size_t i = 0; i < parameters.size(); ++i) {
    const ParamDecl& parameter = parameters[i];
    if (i > 0) signature += ", ";
    signature += parameter.name;
    if (parameter.variadic) signature += "..";
    if (parameter.default_value) {
      signature += "=\"";
      signature += *parameter.default_value;
      signature += '"';
    }
  }
  signature += ')';
  return signature;
}

CommandOffsetMap::CommandOffsetMap(const CommandLine& command) : command_range_(command.range) {
  QUIB_ASSERT(command.line_ranges.size() == command.marker_ranges.size(),
              "a block command needs one marker per source line");
  uint32_t text_start = 0;
  segments_.reserve(command.line_ranges.size());
  for (size_t i = 0; i < command.line_ranges.size(); ++i) {
    const TextRange line = command.line_ranges[i];
    // The content starts after the `|` and the one blank that follows it; a `|` at the end of
    // its line has empty content.
    const uint32_t content_start = std::min(command.marker_ranges[i].end + 1, line.end);
    const uint32_t length = line.end - content_start;
    segments_.push_back({text_start, content_start, length});
    text_start += length + 1;  // the "\n" that ends each line's content in the joined text
  }
}

uint32_t CommandOffsetMap::to_document(uint32_t text_offset) const {
  if (segments_.empty()) {
    return std::min(command_range_.start + text_offset, command_range_.end);
  }
  // The last segment starting at or before the offset; offsets in the "\n" after a line's
  // content (or past the end) stay at that line's end.
  auto after = std::upper_bound(
      segments_.begin(), segments_.end(), text_offset,
      [](uint32_t offset, const Segment& segment) { return offset < segment.text_start; });
  const Segment& segment = after == segments_.begin() ? segments_.front() : *(after - 1);
  const uint32_t within = text_offset >= segment.text_start ? text_offset - segment.text_start : 0;
  return segment.document_start + std::min(within, segment.length);
}

TextRange CommandOffsetMap::to_document(TextRange text_range) const {
  const uint32_t start = to_document(text_range.start);
  return {start, std::max(start, to_document(text_range.end))};
}

std::string_view TextArena::store(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > free_bytes_) {
    const size_t bytes = std::max(text.size(), kChunkBytes);
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(bytes));
    free_ = chunks_.back().get();
    free_bytes_ = bytes;
  }
  char* stored = free_;
  std::memcpy(stored, text.data(), text.size());
  free_ += text.size();
  free_bytes_ -= text.size();
  return {stored, text.size()};
}

// One thread frees the whole model. Split across two threads, each freed blocks the other had
// allocated and the two waited on each other's allocator locks: slower than one thread alone at
// every size measured.
std::vector<TaskDecl> empty_model(SemanticModel& model) {
  std::vector<TaskDecl> tasks = std::move(model.tasks);
  for (TaskDecl& task : tasks) task = TaskDecl();
  model = SemanticModel();
  return tasks;
}

void clear_model(SemanticModel& model) {
  empty_model(model);
}

}  // namespace quib
