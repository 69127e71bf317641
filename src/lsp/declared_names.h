// The task and group names a dependency can refer to, as a document stands without one of its
// lines: the line being typed, which would otherwise not parse, or swallow the lines below it.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "semantic/model.h"
#include "syntax/parse.h"
#include "syntax/text_range.h"
#include "syntax/text_util.h"

namespace quib::lsp {

// Names are views into the document's text or its model, which outlive the request.
struct DeclaredTask {
  std::string_view name;
  std::optional<std::string_view> group;  // the group open when the task appeared
  TextRange range;                        // the whole task, in the text without the line

  bool operator==(const DeclaredTask&) const = default;
};

struct DeclaredNames {
  std::vector<DeclaredTask> tasks;       // document order
  std::vector<std::string_view> groups;  // order of their opening lines, repeats kept

  bool operator==(const DeclaredNames&) const = default;
};

// Folds top-level items, in document order, into the names they declare, by lowering's rules
// for names alone: a well-formed task declares its first word in the open group, a labelled
// opening line opens a group (replacing an open one), a `}` line closes it.
class DeclaredNamesReader {
 public:
  // Starts inside `open_group` when items before the first one taken left it open.
  explicit DeclaredNamesReader(std::optional<std::string_view> open_group = std::nullopt)
      : group_(open_group) {}

  // `slice(range)` gives the bytes of a one-line range of `item`, as a view that outlives the
  // names.
  template <typename Slice>
  void take(const ScannedItem& item, const Slice& slice) {
    if (!item.well_formed) return;
    if (item.item_class == ItemClass::Task) {
      // A task item starts with its name.
      names_.tasks.push_back({slice(*item.first_word), group_, item.range});
    } else if (item.item_class == ItemClass::GroupOpen ||
               item.item_class == ItemClass::GroupClose) {
      if (trim_unicode_whitespace(slice(item.range)) == "}") {
        group_.reset();
      } else if (item.first_word) {
        names_.groups.push_back(slice(*item.first_word));
        group_ = names_.groups.back();
      }
    }
  }
  // The group open after the items taken so far.
  const std::optional<std::string_view>& open_group() const { return group_; }
  DeclaredNames finish() { return std::move(names_); }

 private:
  DeclaredNames names_;
  std::optional<std::string_view> group_;
};

// The names of `text` without its bytes [line_start, line_end): one whole line, `line_end` just
// past its line feed or at the end of the text. `model` is the model of the whole `text`.
// The answer is that of scanning the shortened text from its start. Only the items around the
// line are scanned; the tasks and groups before and after them are read from `model`, whose
// names, groups and ranges follow the same rules, since a parse resumed at a line where an item
// begins after nothing but blanks depends on nothing before it but the group state there.
DeclaredNames declared_names_without(const SemanticModel& model, std::string_view text,
                                     size_t line_start, size_t line_end);

}  // namespace quib::lsp
