// Lowering of a run of items: directives, metadata blocks, group lines and tasks, read through
// the typed view into the records of one model, with the diagnostics each of them raises.
// Apart from the typed view it slices the text between a metadata line and its item and scans
// a header's child kinds once.
#include "semantic/lower_run.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "syntax/assert.h"
#include "syntax/green.h"
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

template <typename View>
View cast_item(const SyntaxNode& node) {
  std::optional<View> view = View::cast(node);
  QUIB_ASSERT(view.has_value(), "item node must cast to the view of its kind");
  return std::move(*view);
}

// Whether `between`, the text between the last metadata line and its item, holds a blank
// line.
bool separated_by_blank_line(std::string_view between) {
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

// The first direct child of `green` that is a node of `kind`, or null.
const GreenNode* first_child_node(const GreenNode& green, SyntaxKind kind) {
  for (uint32_t i = 0; i < green.child_count(); ++i) {
    const GreenElement child = green.child(i);
    if (child.is_node() && child.kind() == kind) return child.as_node();
  }
  return nullptr;
}

// Whether the task's header has a `?` clause at all, usable or not (the view lists only guards
// with a name and an argument). Reads the kinds of the green children; no handles are made.
bool has_guard_clause(const Task& task) {
  const GreenNode* header = first_child_node(task.syntax().green(), SyntaxKind::TaskHeader);
  return header && first_child_node(*header, SyntaxKind::Guard);
}

// The records added to `pool` since it held `first`, as a list.
template <typename T>
RecordList<T> listed_from(const std::vector<T>& pool, size_t first) {
  return RecordList<T>(pool, first, pool.size() - first);
}

}  // namespace

ItemLowering::ItemLowering(const std::shared_ptr<const std::string>& source,
                           std::vector<Diagnostic> diagnostics, LoweringState before,
                           std::span<TaskDecl> task_slots, std::shared_ptr<RecordPools> pools)
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

void ItemLowering::lower_items(std::optional<SyntaxNode> item, uint32_t stop) {
  for (bool more = item.has_value(); more && item->index() < stop;
       more = item->step_to_next_sibling()) {
    visit(*item);
    seen_item_ = true;
  }
}

void ItemLowering::visit(const SyntaxNode& item) {
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

void ItemLowering::raise(Diagnostic diagnostic) {
  model_.diagnostics.push_back(std::move(diagnostic));
}

void ItemLowering::lower_directive(const Directive& directive) {
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
        raise(
            Diagnostic::lowering_error("lower.invalid-directive", "`!shell` needs a value", range));
      } else {
        model_.directives.push_back({ShellDirective{*arguments}, range});
      }
      break;
    default:
      raise(Diagnostic::lowering_error("lower.invalid-directive",
                                       "`!" + directive.name().value_or("") + "` is not supported",
                                       range));
      break;
  }
}

void ItemLowering::lower_version(std::string_view value, TextRange range) {
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
void ItemLowering::lower_variable(std::string_view arguments, TextRange name_range,
                                  TextRange range) {
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

void ItemLowering::lower_group_line(const GroupLine& line) {
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
MetadataBlock ItemLowering::take_metadata(uint32_t item_start) {
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
std::string_view ItemLowering::gap_text(uint32_t start, uint32_t end) const {
  return text_.substr(start, end - start);
}

// Adds the value at `range` to the text `join` builds up for the block being taken.
void ItemLowering::append_text(TextJoin& join, TextRange range) {
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
std::optional<std::string_view> ItemLowering::joined_text(const TextJoin& join) {
  if (join.lines == 0) return std::nullopt;
  if (join.lines == 1) return join.first;
  return pools_->joined_texts.store(join.joined);
}

void ItemLowering::add_metadata_line(const Metadata& line) {
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

void ItemLowering::lower_task(const Task& task) {
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
  if (view.shell) decl.shell = ShellSetting{view.shell->shell, view.shell->mode, view.shell->range};
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

// Room for the lists of about `tasks` tasks, so that the pools rarely grow: growing moves
// every record made so far.
void ItemLowering::reserve_pools(size_t tasks) {
  pools_->parameters.reserve(tasks + tasks / 2);
  pools_->guards.reserve(tasks / 2);
  pools_->dependencies.reserve(tasks / 2);
  pools_->arguments.reserve(tasks / 8);
  pools_->commands.reserve(tasks * 2);
  pools_->interpolations.reserve(tasks * 3);
  pools_->ranges.reserve(tasks * 2);
}

}  // namespace quib
