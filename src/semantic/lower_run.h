// The lowering of a run of the document's items into a model without the whole-file passes.
// A document is lowered in one run, or in two on two threads (lower.cpp); a run may start in
// the middle of the document, in the state the items before it left.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "semantic/model.h"
#include "syntax/ast_view.h"
#include "syntax/syntax_node.h"

namespace quib {

// What lowering carries from one item to the next, besides the pending metadata lines (none
// after a task).
struct LoweringState {
  // A group is open; for a part, possibly one that an earlier part opened.
  bool group_open = false;
  bool seen_version = false;
  bool seen_task_or_group = false;
  bool seen_item = false;

  bool operator==(const LoweringState&) const = default;
};

class ItemLowering {
 public:
  // `source` is the whole document's text; `diagnostics` the list the lowering diagnostics
  // follow; `task_slots` one default record per Task item of the run, which its tasks fill in
  // order; `pools`, empty pools to fill, or null for new ones.
  ItemLowering(const std::shared_ptr<const std::string>& source,
               std::vector<Diagnostic> diagnostics, LoweringState before,
               std::span<TaskDecl> task_slots, std::shared_ptr<RecordPools> pools);

  // Lowers the item nodes from `item` on that come before the root's child at `stop`.
  void lower_items(std::optional<SyntaxNode> item, uint32_t stop);

  LoweringState state() const {
    return {open_group_.has_value() || inherited_group_open_, seen_version_, seen_task_or_group_,
            seen_item_};
  }
  bool metadata_pending() const { return !pending_.empty(); }
  // The model of the run, its tasks aside: those are the first `tasks_lowered()` slots.
  SemanticModel& model() { return model_; }
  size_t tasks_lowered() const { return tasks_lowered_; }
  // For a run that started inside a group opened before it: how many of its first tasks belong
  // to that group, and the line that closed it. Both are filled in when the runs are joined.
  size_t inherited_group_tasks() const { return inherited_group_tasks_; }
  const std::optional<TextRange>& inherited_group_close() const { return inherited_group_close_; }

 private:
  // One metadata text (help, desc, pass or fail) of a block, as its lines are read: the first
  // line's value, and from the second line on the values joined by line breaks.
  struct TextJoin {
    uint32_t lines = 0;
    std::string_view first;
    std::string joined;
  };

  void visit(const SyntaxNode& item);
  void raise(Diagnostic diagnostic);
  void lower_directive(const Directive& directive);
  void lower_version(std::string_view value, TextRange range);
  void lower_variable(std::string_view arguments, TextRange name_range, TextRange range);
  void lower_group_line(const GroupLine& line);
  MetadataBlock take_metadata(uint32_t item_start);
  std::string_view gap_text(uint32_t start, uint32_t end) const;
  void append_text(TextJoin& join, TextRange range);
  std::optional<std::string_view> joined_text(const TextJoin& join);
  void add_metadata_line(const Metadata& line);
  void lower_task(const Task& task);
  void reserve_pools(size_t tasks);

  // The whole document text.
  std::string_view text_;
  // Where the lists of this run's tasks and groups keep their records.
  std::shared_ptr<RecordPools> pools_;
  // The help, desc, pass and fail texts of the metadata block being taken, each built up line by
  // line and stored once the block is complete (storing every partial join would make a block
  // of n lines cost O(n^2) bytes); kept from block to block for their storage.
  static constexpr size_t kHelpJoin = 0, kDescJoin = 1, kPassJoin = 2, kFailJoin = 3;
  std::array<TextJoin, 4> text_joins_;
  SemanticModel model_;
  std::span<TaskDecl> task_slots_;
  size_t tasks_lowered_ = 0;
  // Metadata lines not yet attached to a task or group.
  std::vector<Metadata> pending_;
  // The header view and body lines of the task being lowered, kept from task to task so their
  // lists are allocated once per file.
  TaskHeaderView header_view_;
  std::vector<BodyLine> body_lines_;
  // Index into model_.groups of the open group. Invariant: when set, it is the last group.
  std::optional<size_t> open_group_;
  // A group opened before this run is open; then open_group_ is unset.
  bool inherited_group_open_ = false;
  size_t inherited_group_tasks_ = 0;
  std::optional<TextRange> inherited_group_close_;
  bool seen_version_ = false;
  bool seen_task_or_group_ = false;
  bool seen_item_ = false;
};

}  // namespace quib
