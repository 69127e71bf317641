// Lowering: one walk over the document's items with the pending metadata list and the
// placement flags, then the passes that need the whole file (symbols, inheritance,
// qualification). Reads the tree through the typed view, apart from counting the Task and
// GroupLine items, slicing the text between a metadata line and its item, and one scan of a
// header's child kinds.
#include "semantic/lower.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "semantic/index_table.h"
#include "syntax/green.h"
#include "syntax/green_walk.h"
#include "syntax/parallel.h"
#include "syntax/text_util.h"

namespace quib {
namespace {

constexpr std::string_view kVersionFormat = "use `!version A.B`, for example `!version 0.1`";
constexpr std::string_view kVariableFormat = "use `!var name = \"value\"`";

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

// A version part: ASCII digits only, and "0" or no leading zero.
bool is_version_part(std::string_view part) {
  if (part.empty()) return false;
  if (!std::all_of(part.begin(), part.end(), is_ascii_digit)) return false;
  return part == "0" || part.front() != '0';
}

bool is_variable_name(std::string_view name) {
  if (name.empty()) return false;
  const auto is_start = [](char c) { return is_ascii_letter(c) || c == '_' || c == '-'; };
  const auto is_continue = [&](char c) { return is_start(c) || is_ascii_digit(c); };
  return is_start(name.front()) && std::all_of(name.begin() + 1, name.end(), is_continue);
}

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

// One metadata text (help, desc, pass or fail) of a block, as its lines are read: the first
// line's value, and from the second line on the values joined by line breaks.
struct TextJoin {
  uint32_t lines = 0;
  std::string_view first;
  std::string joined;
};

// The lowering of a run of the document's items into a model without the whole-file passes.
// A run may start in the middle of the document, in the state the items before it left.
class Lowering {
 public:
  // `source` is the whole document's text; `diagnostics` the list the lowering diagnostics
  // follow; `task_slots` one default record per Task item of the run, which its tasks fill in
  // order; `pools`, empty pools to fill, or null for new ones.
  Lowering(const std::shared_ptr<const std::string>& source, std::vector<Diagnostic> diagnostics,
           LoweringState before, std::span<TaskDecl> task_slots, std::shared_ptr<RecordPools> pools)
      : text_(*source),
        pools_(pools ? std::move(pools) : std::make_shared<RecordPools>()),
        task_slots_(task_slots),
        inherited_group_open_(before.group_open),
        seen_version_(before.seen_version),
        seen_task_or_group_(before.seen_task_or_group),
        seen_item_(before.seen_item) {
    model_.diagnostics = std::move(diagnostics);
    pools_->source = source;
    model_.record_pools.pools.push_back(pools_);
    reserve_pools(task_slots.size());
  }

  // Lowers the item nodes from `item` on that come before the root's child at `stop`.
  void lower_items(std::optional<SyntaxNode> item, uint32_t stop) {
    for (bool more = item.has_value(); more && item->index() < stop;
         more = item->step_to_next_sibling()) {
      visit(*item);
      seen_item_ = true;
    }
  }

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
  void visit(const SyntaxNode& item) {
    switch (item.kind()) {
      case SyntaxKind::Directive:
        pending_.clear();
        lower_directive(cast_item<Directive>(item));
        break;
      case SyntaxKind::Metadata:
        pending_.push_back(cast_item<Metadata>(item));
        break;
      case SyntaxKind::GroupLine:
        lower_group_line(cast_item<GroupLine>(item));
        seen_task_or_group_ = true;
        break;
      case SyntaxKind::Task:
        lower_task(cast_item<Task>(item));
        seen_task_or_group_ = true;
        break;
      default:
        // An ErrorItem: metadata does not attach across a failed item.
        pending_.clear();
        break;
    }
  }

  template <typename View>
  static View cast_item(const SyntaxNode& node) {
    std::optional<View> view = View::cast(node);
    QUIB_ASSERT(view.has_value(), "item node must cast to the view of its kind");
    return std::move(*view);
  }

  void raise(Diagnostic diagnostic) { model_.diagnostics.push_back(std::move(diagnostic)); }

  // ------------------------------------------------------------------------------------------
  // Directives

  void lower_directive(const Directive& directive) {
    const TextRange range = directive.range();
    const std::optional<DirectiveKind> kind = directive.kind();
    if (seen_task_or_group_ && kind == DirectiveKind::Var) {
      raise(Diagnostic::check("variable.directive-placement",
                              "`!var` must be near the top of the file", range));
    }
    if (kind == DirectiveKind::Version) {
      if (seen_version_) {
        raise(Diagnostic::check("version.duplicate", "`!version` is used more than once", range));
      } else if (seen_item_) {
        raise(Diagnostic::check("version.not-first-declaration",
                                "`!version` must come before all other declarations", range));
      }
      seen_version_ = true;
    }
    if (!kind) {
      raise(Diagnostic::lowering_error("lower.invalid-directive", "invalid directive", range));
      return;
    }
    const std::optional<std::string> arguments = directive.arguments();
    switch (kind->tag()) {
      case DirectiveKind::Version:
        if (!arguments) {
          raise(Diagnostic::lowering_error("version.invalid-format", kVersionFormat, range));
        } else {
          lower_version(directive.value_text().value_or(""), range);
        }
        break;
      case DirectiveKind::Var:
        if (!arguments) {
          raise(Diagnostic::lowering_error("variable.non-literal", kVariableFormat, range));
        } else {
          lower_variable(*arguments, directive.variable_name_range().value_or(range), range);
        }
        break;
      case DirectiveKind::Shell:
        if (!arguments) {
          raise(Diagnostic::lowering_error("lower.invalid-directive", "`!shell` needs a value",
                                           range));
        } else {
          model_.directives.push_back({ShellDirective{*arguments}, range});
        }
        break;
      default:
        raise(Diagnostic::lowering_error(
            "lower.invalid-directive", "`!" + directive.name().value_or("") + "` is not supported",
            range));
        break;
    }
  }

  void lower_version(std::string_view value, TextRange range) {
    const size_t dot = value.find('.');
    const std::string_view major = value.substr(0, dot);
    const std::string_view minor =
        dot == std::string_view::npos ? std::string_view() : value.substr(dot + 1);
    if (dot == std::string_view::npos || !is_version_part(major) || !is_version_part(minor)) {
      raise(Diagnostic::version_error("version.invalid-format", kVersionFormat, range));
      return;
    }
    LanguageVersion version;
    const auto parse_part = [](std::string_view part, uint64_t& out) {
      return std::from_chars(part.data(), part.data() + part.size(), out).ec == std::errc();
    };
    if (!parse_part(major, version.major) || !parse_part(minor, version.minor) ||
        version.major == std::numeric_limits<uint64_t>::max()) {
      raise(Diagnostic::version_error("version.range-overflow", "the version number is too large",
                                      range));
      return;
    }
    if (version.major == 0 && version.minor == 0) {
      raise(Diagnostic::version_error(
          "version.pre-0.1-unsupported",
          "`!version 0.0` is not allowed\nhelp: use `!version 0.1` or remove this line", range));
      return;
    }
    model_.directives.push_back({version, range});
  }

  // `arguments` is the directive's tokens after `var`, joined with single spaces.
  void lower_variable(std::string_view arguments, TextRange name_range, TextRange range) {
    const size_t equals = arguments.find('=');
    if (equals == std::string_view::npos) {
      raise(Diagnostic::lowering_error("variable.non-literal", kVariableFormat, range));
      return;
    }
    const std::string_view name = trim_unicode_whitespace(arguments.substr(0, equals));
    if (!is_variable_name(name)) {
      raise(Diagnostic::lowering_error("variable.invalid-name", "variable name is invalid", range));
      return;
    }
    const std::string_view value = trim_unicode_whitespace(arguments.substr(equals + 1));
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
      raise(Diagnostic::lowering_error("variable.non-literal", "variable value must be a string",
                                       range));
      return;
    }
    model_.directives.push_back(
        {VariableDecl{std::string(name), std::string(value.substr(1, value.size() - 2)), name_range,
                      range},
         range});
  }

  // ------------------------------------------------------------------------------------------
  // Groups and metadata

  void lower_group_line(const GroupLine& line) {
    if (line.is_close()) {
      if (inherited_group_open_) {
        inherited_group_close_ = line.range();
        inherited_group_open_ = false;
      } else if (!open_group_) {
        raise(Diagnostic::check("namespace.close-without-open", "there is no group to close",
                                line.range()));
      } else {
        model_.groups[*open_group_].close_range = line.range();
        open_group_.reset();
      }
      pending_.clear();
      return;
    }
    std::optional<std::string> name = line.name();
    if (!name) {
      raise(Diagnostic::check("namespace.empty-label", "group name cannot be empty", line.range()));
      return;
    }
    GroupDecl group;
    group.metadata = take_metadata(line.range().start);
    group.name = std::move(*name);
    group.summary = group.metadata.help;
    group.range = line.range();
    // Groups do not nest: a new opening line replaces the open group.
    inherited_group_open_ = false;
    open_group_ = model_.groups.size();
    model_.groups.push_back(std::move(group));
  }

  // The pending metadata as the block of the item starting at `item_start`, emptying the list.
  // A blank line between the last metadata line and the item detaches the whole list.
  MetadataBlock take_metadata(uint32_t item_start) {
    MetadataBlock block;
    if (!pending_.empty() &&
        !separated_by_blank_line(gap_text(pending_.back().range().end, item_start))) {
      const size_t first_range = pools_->ranges.size();
      const size_t first_field = pools_->field_names.size();
      for (TextJoin& join : text_joins_) join.lines = 0;
      for (const Metadata& line : pending_) add_metadata_line(line);
      block.help = joined_text(text_joins_[kHelpJoin]);
      block.desc = joined_text(text_joins_[kDescJoin]);
      block.pass = joined_text(text_joins_[kPassJoin]);
      block.fail = joined_text(text_joins_[kFailJoin]);
      block.help_ranges = listed_from(pools_->ranges, first_range);
      block.unknown_fields = listed_from(pools_->field_names, first_field);
    }
    pending_.clear();
    return block;
  }

  // The document text between two items; only trivia lies between a metadata line and the item
  // it attaches to.
  std::string_view gap_text(uint32_t start, uint32_t end) const {
    return text_.substr(start, end - start);
  }

  // Whether `between`, the text between the last metadata line and its item, holds a blank
  // line.
  static bool separated_by_blank_line(std::string_view between) {
    if (between.find_first_of("\r\n") == std::string::npos) return false;
    // Lines end at "\n"; a final "\n" starts no further line; one trailing "\r" is dropped.
    // The text after the last "\n" is the indentation in front of the item on its own line,
    // not a line of its own: an indented item below a comment line keeps its metadata.
    size_t start = 0;
    while (start < between.size()) {
      size_t end = between.find('\n', start);
      if (end == std::string::npos) {
        if (start > 0) break;
        end = between.size();
      }
      std::string_view line = between.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (trim_unicode_whitespace(line).empty()) return true;
      start = end + 1;
    }
    return false;
  }

  // Adds the value at `range` to the text `join` builds up for the block being taken.
  void append_text(TextJoin& join, TextRange range) {
    const std::string_view value = text_.substr(range.start, range.len());
    if (join.lines++ == 0) {
      join.first = value;
    } else {
      if (join.lines == 2) join.joined.assign(join.first);
      join.joined += '\n';
      join.joined += value;
    }
  }

  // The text `join` built: none, the one line's value as a view of the document, or the lines'
  // values joined, stored once in the model.
  std::optional<std::string_view> joined_text(const TextJoin& join) {
    if (join.lines == 0) return std::nullopt;
    if (join.lines == 1) return join.first;
    return pools_->joined_texts.store(join.joined);
  }

  void add_metadata_line(const Metadata& line) {
    const std::optional<MetadataLayout> layout = line.layout();
    if (!layout) return;
    switch (layout->field.tag()) {
      case MetadataField::Help:
        append_text(text_joins_[kHelpJoin], layout->value_range);
        pools_->ranges.push_back(layout->value_range);
        break;
      case MetadataField::Desc:
        append_text(text_joins_[kDescJoin], layout->value_range);
        break;
      case MetadataField::Pass:
        append_text(text_joins_[kPassJoin], layout->value_range);
        break;
      case MetadataField::Fail:
        append_text(text_joins_[kFailJoin], layout->value_range);
        break;
      default: {
        // The key is written between the brackets that `key_range` covers.
        const TextRange key = layout->key_range;
        pools_->field_names.emplace_back(text_.substr(key.start + 1, key.len() - 2));
        break;
      }
    }
  }

  // ------------------------------------------------------------------------------------------
  // Tasks

  void lower_task(const Task& task) {
    const TextRange range = task.range();
    MetadataBlock metadata = take_metadata(range.start);
    // A task without a header has an empty view, so no name either.
    TaskHeaderView& view = header_view_;
    task.header_view_into(view);
    if (!view.name) {
      raise(Diagnostic::lowering_error("lower.invalid-task", "invalid task", range));
      return;
    }
    QUIB_ASSERT(tasks_lowered_ < task_slots_.size(), "every Task item has a task slot");
    TaskDecl& decl = task_slots_[tasks_lowered_++];
    decl.metadata = metadata;
    decl.name = std::move(*view.name);
    decl.name_range = view.name_range.value_or(range);
    decl.range = range;
    if (open_group_) decl.group = model_.groups[*open_group_].name;
    if (inherited_group_open_) ++inherited_group_tasks_;
    if (view.shell)
      decl.shell = ShellSetting{view.shell->shell, view.shell->mode, view.shell->range};
    RecordPools& pools = *pools_;
    const size_t first_parameter = pools.parameters.size();
    for (ParameterView& parameter : view.parameters) {
      pools.parameters.push_back({std::move(parameter.name), std::move(parameter.default_value),
                                  parameter.is_slice, parameter.name_range});
    }
    decl.parameters = listed_from(pools.parameters, first_parameter);
    const size_t first_guard = pools.guards.size();
    for (GuardView& guard : view.guards) {
      pools.guards.push_back({guard.kind, std::move(guard.argument), guard.range});
    }
    decl.guards = listed_from(pools.guards, first_guard);
    const size_t first_dependency = pools.dependencies.size();
    for (DependencyView& dependency : view.dependencies) {
      const size_t first_argument = pools.arguments.size();
      for (DependencyArgument& argument : dependency.arguments) {
        pools.arguments.push_back(std::move(argument));
      }
      pools.dependencies.push_back({std::move(dependency.name), dependency.name_range,
                                    dependency.range, listed_from(pools.arguments, first_argument),
                                    dependency.clause_index});
    }
    decl.dependencies = listed_from(pools.dependencies, first_dependency);
    task.body_lines_into(body_lines_);
    const size_t first_command = pools.commands.size();
    for (BodyLine& line : body_lines_) {
      CommandLine& command = pools.commands.emplace_back();
      // A single line's text is the document's bytes at its range (the view does not copy it).
      command.text = line.is_block() ? pools.joined_texts.store(line.text)
                                     : text_.substr(line.range.start, line.range.len());
      const size_t first_interpolation = pools.interpolations.size();
      append_interpolations(command.text, pools.interpolations);
      command.interpolations = listed_from(pools.interpolations, first_interpolation);
      command.range = line.range;
      const size_t first_line = pools.ranges.size();
      pools.ranges.insert(pools.ranges.end(), line.line_ranges.begin(), line.line_ranges.end());
      command.line_ranges = listed_from(pools.ranges, first_line);
      const size_t first_marker = pools.ranges.size();
      pools.ranges.insert(pools.ranges.end(), line.marker_ranges.begin(), line.marker_ranges.end());
      command.marker_ranges = listed_from(pools.ranges, first_marker);
    }
    decl.commands = listed_from(pools.commands, first_command);
    // A guarded header may stand without commands; otherwise a `:` promises a body.
    if (view.body_marker_range && !has_guard_clause(task) && decl.commands.empty()) {
      raise(Diagnostic::check("semantic.empty-task-body",
                              "task body is empty; add a command or remove ':'",
                              *view.body_marker_range));
    }
  }

  // Whether the task's header has a `?` clause at all, usable or not (the view lists only guards
  // with a name and an argument). Reads the kinds of the green children; no handles are made.
  static bool has_guard_clause(const Task& task) {
    const GreenNode* header = first_child_node(task.syntax().green(), SyntaxKind::TaskHeader);
    return header && first_child_node(*header, SyntaxKind::Guard);
  }

  // The first direct child of `green` that is a node of `kind`, or null.
  static const GreenNode* first_child_node(const GreenNode& green, SyntaxKind kind) {
    for (uint32_t i = 0; i < green.child_count(); ++i) {
      const GreenElement child = green.child(i);
      if (child.is_node() && child.kind() == kind) return child.as_node();
    }
    return nullptr;
  }

  // The records added to `pool` since it held `first`, as a list.
  template <typename T>
  static RecordList<T> listed_from(const std::vector<T>& pool, size_t first) {
    return RecordList<T>(pool, first, pool.size() - first);
  }

  // Room for the lists of about `tasks` tasks, so that the pools rarely grow: growing moves
  // every record made so far.
  void reserve_pools(size_t tasks) {
    pools_->parameters.reserve(tasks + tasks / 2);
    pools_->guards.reserve(tasks / 2);
    pools_->dependencies.reserve(tasks / 2);
    pools_->arguments.reserve(tasks / 8);
    pools_->commands.reserve(tasks * 2);
    pools_->interpolations.reserve(tasks * 3);
    pools_->ranges.reserve(tasks * 2);
  }

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

// ------------------------------------------------------------------------------------------
// Whole-file passes

// Later definitions of a task take the texts they lack from its first definition, found as every
// task is added to `tables`.
void inherit_metadata(SemanticModel& model, TaskTables& tables) {
  for (uint32_t i = 0; i < model.tasks.size(); ++i) {
    prefetch_task(model.tasks, i);
    TaskDecl& task = model.tasks[i];
    const uint32_t first = tables.index_task(model, i);
    if (first != i) {
      const MetadataBlock& origin = model.tasks[first].metadata;
      if (!task.metadata.help) task.metadata.help = origin.help;
      if (!task.metadata.desc) task.metadata.desc = origin.desc;
      if (!task.metadata.pass) task.metadata.pass = origin.pass;
      if (!task.metadata.fail) task.metadata.fail = origin.fail;
    }
    task.summary = task.metadata.help;
  }
}

// The records of `list`, one of `model`'s dependency lists, writable.
std::span<DependencyDecl> writable(SemanticModel& model, const RecordList<DependencyDecl>& list) {
  for (const std::shared_ptr<RecordPools>& pools : model.record_pools.pools) {
    if (list.is_in(pools->dependencies)) return list.in(pools->dependencies);
  }
  QUIB_ASSERT(false, "a model's lists are in the model's pools");
  return {};
}

// Inside a group, an unqualified dependency on a sibling task names that sibling.
void qualify_dependencies(SemanticModel& model) {
  // Grouped tasks by group and plain name; no task's group or name changes in this pass. A
  // group's tasks follow each other, so a group name is hashed once per run of its tasks.
  IndexTable members(model.tasks.size());
  std::vector<size_t> group_hashes(model.tasks.size());
  bool any_grouped = false;
  const std::string* previous_group = nullptr;
  size_t group_hash = 0;
  for (size_t i = 0; i < model.tasks.size(); ++i) {
    prefetch_task(model.tasks, i);
    const TaskDecl& task = model.tasks[i];
    if (!task.group) continue;
    if (!previous_group || *previous_group != *task.group) group_hash = hash_text(*task.group);
    previous_group = &*task.group;
    group_hashes[i] = group_hash;
    any_grouped = true;
    members.insert(hash_combine(group_hash, hash_text(task.name)), static_cast<uint32_t>(i),
                   [&](uint32_t other) {
                     return model.tasks[other].group == task.group &&
                            model.tasks[other].name == task.name;
                   });
  }
  if (!any_grouped) return;
  for (size_t i = 0; i < model.tasks.size(); ++i) {
    prefetch_task(model.tasks, i);
    TaskDecl& task = model.tasks[i];
    if (!task.group || task.dependencies.empty()) continue;
    const std::string_view group = *task.group;
    for (DependencyDecl& dependency : writable(model, task.dependencies)) {
      if (dependency.name.find('.') != std::string::npos) continue;
      const size_t hash = hash_combine(group_hashes[i], hash_text(dependency.name));
      const auto sibling = members.find(hash, [&](uint32_t other) {
        return *model.tasks[other].group == group && model.tasks[other].name == dependency.name;
      });
      if (sibling) dependency.name = *task.group + "." + dependency.name;
    }
  }
}

// The symbol of each task of `tasks`, into `out` in the same order.
void name_tasks(std::span<const TaskDecl> tasks, std::span<SymbolEntry> out) {
  for (size_t i = 0; i < tasks.size(); ++i) out[i] = {tasks[i].qualified_name(), tasks[i].range};
}

// The group symbols, and the task symbols unless the runs named their tasks already.
void build_symbols(SemanticModel& model) {
  model.group_symbols.reserve(model.groups.size());
  for (const GroupDecl& group : model.groups) {
    model.group_symbols.push_back({group.name, group.range});
  }
  if (model.task_symbols.size() == model.tasks.size()) return;
  model.task_symbols.resize(model.tasks.size());
  name_tasks(model.tasks, model.task_symbols);
}

// Below this many tasks the whole-file passes run one after the other on the calling thread.
constexpr size_t kTwoRunPassTasks = 2048;

// Below this size a document is lowered on the calling thread alone: starting a helper thread
// and joining the runs would cost more than the parallel work saves.
constexpr size_t kTwoRunLoweringBytes = 256 * 1024;

// How lowerings in two runs have lately divided between the threads.
DivisionBalance& lowering_balance() {
  // Never destroyed: a lowering may run while static objects are destroyed.
  static auto* balance = new DivisionBalance();
  return *balance;
}

// Where a document's items are cut for two runs, and how many Task items lie before the cut and
// in all: the slots of the runs' tasks.
struct TaskSlots {
  std::optional<uint32_t> cut;
  size_t before_cut = 0;
  size_t all = 0;
  // Where the cut lies: before the root's child `cut`, at this offset.
  uint32_t cut_offset = 0;
};

// The Task items of the root's children, counted in one walk: before `cut` (all of them when
// there is none) and in all.
TaskSlots count_task_slots(const GreenNode& root, std::optional<uint32_t> cut) {
  TaskSlots slots{.cut = cut};
  for (uint32_t i = 0; i < root.child_count(); ++i) {
    const GreenElement child = root.child(i);
    if (child.is_node() && child.kind() == SyntaxKind::Task) {
      ++slots.all;
      if (!cut || i < *cut) ++slots.before_cut;
    }
  }
  if (cut) slots.cut_offset = cut_before(root, *cut).offset;
  return slots;
}

// The walks read nothing of a child but its header, and a large tree does not fit the caches:
// each child's header is fetched this many children ahead, so the misses overlap.
constexpr uint32_t kChildAhead = 16;

// The first half of the root's children, walked forward from the document's start.
struct ForwardCount {
  size_t tasks = 0;
  std::optional<uint32_t> cut;  // the cut, when it lies in this half
  uint32_t cut_offset = 0;
  size_t before_cut = 0;
  bool ends_with_task = false;  // the half's last item node is a Task
};

ForwardCount count_forward(const GreenNode& root, uint32_t end, uint32_t half) {
  ForwardCount count;
  uint32_t offset = 0;
  for (uint32_t i = 0; i < end; ++i) {
    if (i + kChildAhead < end) __builtin_prefetch(root.child(i + kChildAhead).header());
    const GreenElement child = root.child(i);
    if (child.is_node()) {
      if (!count.cut && offset >= half && count.ends_with_task) {
        count.cut = i;
        count.cut_offset = offset;
        count.before_cut = count.tasks;
      }
      count.ends_with_task = child.kind() == SyntaxKind::Task;
      if (count.ends_with_task) ++count.tasks;
    }
    offset += child.text_len();
  }
  return count;
}

// The second half of the root's children, walked backward from the document's end: each
// child's offset is then known without the first half's length.
struct BackwardCount {
  size_t tasks = 0;
  // The first cut after the half's first item node, its offset, and the Task items from there
  // on.
  std::optional<uint32_t> cut;
  uint32_t cut_offset = 0;
  size_t from_cut = 0;
  // The half's first item node and its offset; whether it is a cut depends on the item before.
  std::optional<uint32_t> first_node;
  uint32_t first_node_offset = 0;
};

BackwardCount count_backward(const GreenNode& root, uint32_t begin, uint32_t half) {
  BackwardCount count;
  uint32_t end = root.text_len();
  for (uint32_t i = root.child_count(); i-- > begin;) {
    if (i >= begin + kChildAhead) __builtin_prefetch(root.child(i - kChildAhead).header());
    const GreenElement child = root.child(i);
    end -= child.text_len();
    if (!child.is_node()) continue;
    const bool is_task = child.kind() == SyntaxKind::Task;
    // The node visited before this one follows it in the document; walking backward, the last
    // cut found is the first in document order.
    if (is_task && count.first_node && count.first_node_offset >= half) {
      count.cut = count.first_node;
      count.cut_offset = count.first_node_offset;
      count.from_cut = count.tasks;
    }
    if (is_task) ++count.tasks;
    count.first_node = i;
    count.first_node_offset = end;
  }
  return count;
}

// The slots of two runs, cut before the first item node from `first_share` of the text on whose
// previous item is a task (no metadata is pending there), or of one run when there is no such
// item. The two halves of the root's children are walked on two threads: the walk shows in the
// time of a large document.
TaskSlots find_task_slots_on_two_threads(const GreenNode& root, double first_share) {
  const auto half = static_cast<uint32_t>(static_cast<double>(root.text_len()) * first_share);
  const uint32_t middle = root.child_count() / 2;
  ForwardCount before;
  BackwardCount after;
  run_in_parallel([&] { before = count_forward(root, middle, half); },
                  [&] { after = count_backward(root, middle, half); });
  TaskSlots slots;
  slots.all = before.tasks + after.tasks;
  if (before.cut) {
    slots.cut = before.cut;
    slots.cut_offset = before.cut_offset;
    slots.before_cut = before.before_cut;
  } else if (before.ends_with_task && after.first_node && after.first_node_offset >= half) {
    slots.cut = after.first_node;
    slots.cut_offset = after.first_node_offset;
    slots.before_cut = before.tasks;
  } else if (after.cut) {
    slots.cut = after.cut;
    slots.cut_offset = after.cut_offset;
    slots.before_cut = slots.all - after.from_cut;
  } else {
    slots.before_cut = slots.all;
  }
  return slots;
}

// Where the second run starts: the root's child `cut`, and a guess of the state that lowering
// the items before it leaves, read from the few items that change it (the last group line and
// any version directive). One walk over the items before the cut, whatever their kinds.
struct RunStart {
  LoweringState guessed;
  std::optional<SyntaxNode> item;
};

RunStart run_start_at(const SyntaxNode& root, uint32_t cut) {
  RunStart start{.guessed = {.seen_task_or_group = true, .seen_item = true},
                 .item = root.first_child()};
  LoweringState& state = start.guessed;
  std::optional<SyntaxNode>& item = start.item;
  while (item && item->index() < cut) {
    if (item->kind() == SyntaxKind::GroupLine) {
      state.group_open = !GroupLine::cast(*item)->is_close();
    } else if (item->kind() == SyntaxKind::Directive && !state.seen_version) {
      state.seen_version = Directive::cast(*item)->kind() == DirectiveKind::Version;
    }
    if (!item->step_to_next_sibling()) item.reset();
  }
  return start;
}

// Keeps the records of the runs' slots and drops the slots no task took (a Task item without a
// name gives none): `used` tells, for each run in order, how many of its `slots` it filled.
template <typename Record>
void keep_lowered_slots(std::vector<Record>& records, std::span<const size_t> slots,
                        std::span<const size_t> used) {
  size_t kept = 0;
  size_t first_slot = 0;
  for (size_t run = 0; run < slots.size(); ++run) {
    if (kept != first_slot) {
      std::move(records.begin() + static_cast<std::ptrdiff_t>(first_slot),
                records.begin() + static_cast<std::ptrdiff_t>(first_slot + used[run]),
                records.begin() + static_cast<std::ptrdiff_t>(kept));
    }
    kept += used[run];
    first_slot += slots[run];
  }
  records.erase(records.begin() + static_cast<std::ptrdiff_t>(kept), records.end());
}

// One of the emptied pools that `storage` lends, or null when it has none left.
std::shared_ptr<RecordPools> take_pools(ModelStorage& storage) {
  if (storage.pools.empty()) return nullptr;
  std::shared_ptr<RecordPools> pools = std::move(storage.pools.back());
  storage.pools.pop_back();
  return pools;
}

// The runs before and after `counted.cut`, lowered on two threads into the slots of `tasks` (the
// first `counted.before_cut` for the first run) and joined; none when the second run started
// from a wrongly guessed state (the slots are then spent).
std::optional<SemanticModel> lower_in_two_runs(const ParseResult& parse,
                                               const std::shared_ptr<const std::string>& source,
                                               const TaskSlots& counted,
                                               std::vector<TaskDecl>& tasks,
                                               ModelStorage& storage) {
  const uint32_t cut = *counted.cut;
  const size_t first_slots = counted.before_cut;
  const std::span<TaskDecl> slots(tasks);
  std::optional<Lowering> first;
  std::optional<Lowering> second;
  LoweringState guessed;
  SyntaxNode second_root = parse.root.share_root();
  std::shared_ptr<RecordPools> first_pools = take_pools(storage);
  std::shared_ptr<RecordPools> second_pools = take_pools(storage);
  // Each run names the tasks it lowered, in the slots of its tasks; the tasks of a group opened
  // before the second run are named again once that group is known.
  std::vector<SymbolEntry> symbols(tasks.size());
  const std::span<SymbolEntry> symbol_slots(symbols);
  run_divided(
      lowering_balance(), share_before(parse.root.green(), ChildCut{cut, counted.cut_offset}),
      [&] {
        first.emplace(source, parse.diagnostics, LoweringState{}, slots.first(first_slots),
                      std::move(first_pools));
        first->lower_items(parse.root.first_child(), cut);
        name_tasks(slots.first(first->tasks_lowered()), symbol_slots);
      },
      [&] {
        RunStart start = run_start_at(second_root, cut);
        guessed = start.guessed;
        second.emplace(source, std::vector<Diagnostic>{}, guessed, slots.subspan(first_slots),
                       std::move(second_pools));
        second->lower_items(std::move(start.item), UINT32_MAX);
        name_tasks(slots.subspan(first_slots, second->tasks_lowered()),
                   symbol_slots.subspan(first_slots));
      });
  if (first->metadata_pending() || first->state() != guessed) return std::nullopt;
  SemanticModel model = std::move(first->model());
  SemanticModel& rest = second->model();
  if (guessed.group_open) {
    GroupDecl& open_group = model.groups.back();
    for (size_t i = 0; i < second->inherited_group_tasks(); ++i) {
      TaskDecl& task = tasks[first_slots + i];
      task.group = open_group.name;
      symbols[first_slots + i].name = task.qualified_name();
    }
    if (second->inherited_group_close()) open_group.close_range = second->inherited_group_close();
  }
  const auto append = [](auto& into, auto& from) {
    into.insert(into.end(), std::make_move_iterator(from.begin()),
                std::make_move_iterator(from.end()));
  };
  append(model.directives, rest.directives);
  append(model.groups, rest.groups);
  append(model.diagnostics, rest.diagnostics);
  append(model.record_pools.pools, rest.record_pools.pools);
  const size_t slot_counts[] = {first_slots, tasks.size() - first_slots};
  const size_t used[] = {first->tasks_lowered(), second->tasks_lowered()};
  keep_lowered_slots(tasks, slot_counts, used);
  keep_lowered_slots(symbols, slot_counts, used);
  model.tasks = std::move(tasks);
  model.task_symbols = std::move(symbols);
  return model;
}

// The model of `parse`, its items lowered in two runs split at `counted.cut` when there is one.
// The tasks are written straight into one list with a slot per Task item, so that joining two
// runs moves no task and never holds a run's tasks twice.
LoweredModel lower_model(const ParseResult& parse, const std::shared_ptr<const std::string>& source,
                         const TaskSlots& counted, ModelStorage storage) {
  const std::optional<uint32_t> cut = counted.cut;
  const size_t slots = counted.all;
  std::vector<TaskDecl> tasks = std::move(storage.tasks);
  // Growing by resize would double the list and move the stored default records into it;
  // a list of exactly the slots needed holds no task twice and no room for a second document.
  if (tasks.capacity() < slots) tasks = std::vector<TaskDecl>();
  tasks.resize(slots);
  std::optional<SemanticModel> model;
  if (cut) model = lower_in_two_runs(parse, source, counted, tasks, storage);
  if (!model) {
    if (cut) tasks = std::vector<TaskDecl>(slots);
    Lowering whole(source, parse.diagnostics, LoweringState{}, tasks, take_pools(storage));
    whole.lower_items(parse.root.first_child(), UINT32_MAX);
    const size_t slot_counts[] = {slots};
    const size_t used[] = {whole.tasks_lowered()};
    keep_lowered_slots(tasks, slot_counts, used);
    model = std::move(whole.model());
    model->tasks = std::move(tasks);
  }
  // Symbols first: the later passes key their lookups by the symbols' qualified names. The two
  // later passes write different fields of the tasks, so a large model runs them at once.
  build_symbols(*model);
  // The task tables for the checks are built on the way: inheriting metadata indexes every
  // task, and qualifying dependencies changes no task's name or group.
  TaskTables tables(*model);
  if (model->tasks.size() >= kTwoRunPassTasks) {
    run_in_parallel([&] { inherit_metadata(*model, tables); },
                    [&] { qualify_dependencies(*model); });
  } else {
    inherit_metadata(*model, tables);
    qualify_dependencies(*model);
  }
  return {std::move(*model), std::move(tables)};
}

// The text `parse` was made from, which the model's views keep alive: the tree's own source, or
// for a tree without one (small, built by hand) a copy of its text.
std::shared_ptr<const std::string> source_of(const ParseResult& parse) {
  if (std::shared_ptr<const std::string> source = parse.root.source()) return source;
  return std::make_shared<const std::string>(parse.root.text());
}

}  // namespace

SemanticModel lower(const ParseResult& parse, ModelStorage storage) {
  return lower_with_tables(parse, std::move(storage)).model;
}

LoweredModel lower_with_tables(const ParseResult& parse, ModelStorage storage) {
  const bool two_runs = parse.root.text_range().len() >= kTwoRunLoweringBytes;
  const TaskSlots counted = two_runs ? find_task_slots_on_two_threads(
                                           parse.root.green(), caller_share(lowering_balance()))
                                     : count_task_slots(parse.root.green(), std::nullopt);
  return lower_model(parse, source_of(parse), counted, std::move(storage));
}

SemanticModel lower(const ParseResult& parse, uint32_t cut) {
  const TaskSlots counted = count_task_slots(parse.root.green(), cut);
  return lower_model(parse, source_of(parse), counted, {}).model;
}

}  // namespace quib
