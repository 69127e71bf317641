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
  if (text.size() > kChunkBytes) {
    long_texts_.push_back(std::make_unique_for_overwrite<char[]>(text.size()));
    std::memcpy(long_texts_.back().get(), text.data(), text.size());
    return {long_texts_.back().get(), text.size()};
  }
  if (text.size() > free_bytes_) {
    if (next_chunk_ == chunks_.size()) {
      chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunkBytes));
    }
    free_ = chunks_[next_chunk_++].get();
    free_bytes_ = kChunkBytes;
  }
  char* stored = free_;
  std::memcpy(stored, text.data(), text.size());
  free_ += text.size();
  free_bytes_ -= text.size();
  return {stored, text.size()};
}

void TextArena::clear() {
  long_texts_.clear();
  next_chunk_ = 0;
  free_ = nullptr;
  free_bytes_ = 0;
}

void RecordPools::clear() {
  source.reset();
  joined_texts.clear();
  parameters.clear();
  guards.clear();
  dependencies.clear();
  arguments.clear();
  commands.clear();
  interpolations.clear();
  ranges.clear();
  field_names.clear();
}

// One thread frees the whole model. Split across two threads, each freed blocks the other had
// allocated and the two waited on each other's allocator locks: slower than one thread alone at
// every size measured.
ModelStorage empty_model(SemanticModel& model) {
  ModelStorage storage{std::move(model.tasks), {}};
  for (TaskDecl& task : storage.tasks) task = TaskDecl();
  for (std::shared_ptr<RecordPools>& pools : model.record_pools.pools) {
    if (pools.use_count() != 1) continue;
    pools->clear();
    storage.pools.push_back(std::move(pools));
  }
  model = SemanticModel();
  return storage;
}

void clear_model(SemanticModel& model) {
  empty_model(model);
}

}  // namespace quib
