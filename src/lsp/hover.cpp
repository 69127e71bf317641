// Element lookup for hover: one descent from the root to the token under the cursor, then the
// element checks in their fixed order over that path and the document model.
#include "lsp/hover.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "lsp/descriptions.h"
#include "semantic/model.h"
#include "syntax/ast_view.h"
#include "syntax/text_util.h"

namespace quib::lsp {
namespace {

using K = SyntaxKind;

// The token under the cursor and the nodes above it, nearest first, ending with the top-level
// item. `nodes` is empty for a token that sits directly in the document (a comment, a blank
// line).
struct CursorPath {
  SyntaxToken token;
  std::vector<SyntaxNode> nodes;

  const SyntaxNode* item() const { return nodes.empty() ? nullptr : &nodes.back(); }
  const SyntaxNode* nearest(K kind) const {
    for (const SyntaxNode& node : nodes) {
      if (node.kind() == kind) return &node;
    }
    return nullptr;
  }
};

// Descends by range, so the cost is the depth of the tree times the width of each level, not
// the size of the document.
std::optional<CursorPath> path_at(const SyntaxNode& root, uint32_t offset) {
  std::optional<SyntaxToken> token = root.token_at_offset(offset);
  if (!token) return std::nullopt;
  CursorPath path{*token, {}};
  std::optional<SyntaxNode> node = token->parent();
  while (node && node->kind() != K::Document) {
    path.nodes.push_back(*node);
    node = node->parent();
  }
  return path;
}

// Joins texts. Used instead of `"literal" + std::string`, which GCC 12 misreports under
// -Wrestrict when optimising.
std::string concat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

// The task whose range holds `offset`. Tasks are disjoint top-level items in document order,
// so a binary search on their starts finds it.
const TaskDecl* task_containing(const SemanticModel& model, uint32_t offset) {
  auto after =
      std::upper_bound(model.tasks.begin(), model.tasks.end(), offset,
                       [](uint32_t at, const TaskDecl& task) { return at < task.range.start; });
  if (after == model.tasks.begin()) return nullptr;
  const TaskDecl& task = *(after - 1);
  return task.range.contains(offset) ? &task : nullptr;
}

std::string in_backticks(std::string_view text) {
  std::string out = "`";
  out += text;
  out += '`';
  return out;
}

bool is_space(K kind) {
  return kind == K::Whitespace || kind == K::Newline || kind == K::Indent;
}

// ---- 1, 2: whole-line items ----

std::optional<HoverInfo> directive_hover(const SyntaxNode& item, std::string_view text) {
  const std::optional<Directive> directive = Directive::cast(item);
  if (!directive) return std::nullopt;
  const std::optional<DirectiveKind> kind = directive->kind();
  if (!kind) return std::nullopt;
  const std::optional<std::string_view> description = describe(*kind);
  if (!description) return std::nullopt;

  std::string documentation(*description);
  // The value as written: everything after the name, so `!shell bash` shows "bash" although
  // its name is a keyword token, and `!var n = "v"` shows `n = "v"`.
  const TextRange name = *directive->name_range();
  const std::string_view value =
      trim_unicode_whitespace(text.substr(name.end, directive->range().end - name.end));
  if (!value.empty()) documentation += "\n\nCurrent value: " + in_backticks(value);
  return HoverInfo{"directive", concat({"!", *directive->name()}), std::move(documentation),
                   std::nullopt, directive->range()};
}

std::optional<HoverInfo> metadata_hover(const SyntaxNode& item) {
  const std::optional<Metadata> metadata = Metadata::cast(item);
  if (!metadata) return std::nullopt;
  const std::optional<MetadataField> field = metadata->field();
  const std::optional<std::string> key = metadata->key();
  const std::optional<std::string> value = metadata->value();
  if (!field || !key || !value) return std::nullopt;
  std::string documentation(describe(*field));
  if (!value->empty()) documentation += "\n\nCurrent text: " + *value;
  return HoverInfo{"metadata", concat({"[", *key, "]"}), std::move(documentation), std::nullopt,
                   metadata->range()};
}

// ---- 3 to 7: header clauses ----

std::optional<HoverInfo> marker_hover(const CursorPath& path) {
  const K kind = path.token.kind();
  const K parent = path.token.parent().kind();
  if (kind == K::Question && parent == K::Guard) {
    return HoverInfo{"condition", "?", "Runs the task only when the guard returns true.",
                     std::nullopt, path.token.text_range()};
  }
  if (kind == K::Ampersand && parent == K::Dependency) {
    return HoverInfo{"dependency", "&", "Runs the dependency before this task.", std::nullopt,
                     path.token.text_range()};
  }
  return std::nullopt;
}

// The parenthesised list of a parallel clause `& (a, b)`: the same shape the typed view reads as
// parallel (after the `&`, the first and last non-space tokens are `(` and `)`).
std::optional<HoverInfo> parallel_hover(const CursorPath& path, uint32_t offset) {
  const SyntaxNode* node = path.nearest(K::Dependency);
  if (!node) return std::nullopt;
  std::vector<TextRange> tokens;
  std::vector<K> kinds;
  for (const SyntaxElement& child : node->children_with_tokens()) {
    if (!child.is_token() || is_space(child.kind())) continue;
    tokens.push_back(child.text_range());
    kinds.push_back(child.kind());
  }
  size_t first = !kinds.empty() && kinds.front() == K::Ampersand ? 1 : 0;
  if (kinds.size() < first + 2 || kinds[first] != K::LParen || kinds.back() != K::RParen) {
    return std::nullopt;
  }
  const TextRange list(tokens[first].start, tokens.back().end);
  if (!list.contains(offset)) return std::nullopt;
  return HoverInfo{"parallel dependencies", Dependency::cast(*node)->clause_text(),
                   "Runs these dependencies in parallel.", std::nullopt, list};
}

std::optional<HoverInfo> parameter_hover(const CursorPath& path, const SemanticModel& model,
                                         uint32_t offset) {
  const SyntaxNode* node = path.nearest(K::Parameter);
  if (!node) return std::nullopt;
  const std::optional<ParameterView> view = Parameter::cast(*node)->view();
  if (!view) return std::nullopt;

  std::string code = view->name;
  std::string documentation =
      view->is_slice ? "Variadic task parameter that captures remaining positional arguments."
                     : "Task parameter.";
  if (view->is_slice) code += "..";
  if (view->default_value) {
    code += "=\"" + *view->default_value + "\"";
    documentation += "\n\nDefault: " + in_backticks(*view->default_value);
  }
  std::optional<std::string> container;
  if (const TaskDecl* task = task_containing(model, offset)) container = task->qualified_name();
  return HoverInfo{"parameter", std::move(code), std::move(documentation), std::move(container),
                   view->range};
}

// A guard call such as `@os("linux")`, from its `@` (or its name, when the `@` is missing) to
// its closing parenthesis. Read from the tokens rather than the typed view, which leaves out
// guards without a string argument; those show as `@os(...)`.
std::optional<HoverInfo> guard_call_hover(const CursorPath& path, uint32_t offset) {
  const SyntaxNode* node = path.nearest(K::Guard);
  if (!node) return std::nullopt;
  const std::vector<SyntaxToken> tokens = node->tokens();
  const SyntaxToken* at = nullptr;
  const SyntaxToken* name = nullptr;
  const SyntaxToken* argument = nullptr;
  const SyntaxToken* last = nullptr;
  for (const SyntaxToken& token : tokens) {
    if (!name && token.kind() == K::At && !at) at = &token;
    if (!name && token.kind() == K::Word) name = &token;
    if (name && !argument && token.kind() == K::String) argument = &token;
    if (name && !is_space(token.kind()) && token.kind() != K::Comment) last = &token;
  }
  if (!name) return std::nullopt;
  const TextRange call((at ? at : name)->text_range().start, last->text_range().end);
  if (!call.contains(offset)) return std::nullopt;
  const std::optional<std::string_view> description = describe(GuardKind::from_word(name->text()));
  if (!description) return std::nullopt;

  const std::string guard_name(name->text());
  std::string documentation(*description);
  std::string code = concat({"@", guard_name});
  const std::optional<std::string_view> value = argument ? unquote(argument->text()) : std::nullopt;
  if (value) {
    code += "(\"" + std::string(*value) + "\")";
    documentation += "\n\nCurrent argument: " + in_backticks(*value);
  } else {
    code += "(...)";
  }
  return HoverInfo{"guard", std::move(code), std::move(documentation), std::nullopt, call};
}

// ---- 8, 9: the task body ----

// A placeholder is only what the language itself substitutes: a reference inside a command,
// as lowering found it (escapes honoured). Scanning the raw text instead would pair a stray
// "{{" with a "}}" many lines later and cover every element in between.
std::optional<HoverInfo> placeholder_hover(const TaskDecl& task, const CommandLine& command,
                                           const SemanticModel& model, uint32_t offset) {
  const CommandOffsetMap map(command);
  for (const Interpolation& reference : command.interpolations) {
    const TextRange range = map.to_document(reference.range);
    if (!range.contains(offset)) continue;
    std::string documentation = "Replaces this variable at runtime.";
    std::optional<std::string> default_value;
    // A parameter shadows a global variable of the same name, even without a default.
    auto parameter =
        std::find_if(task.parameters.begin(), task.parameters.end(),
                     [&](const ParamDecl& param) { return param.name == reference.name; });
    if (parameter != task.parameters.end()) {
      default_value = parameter->default_value;
    } else {
      for (const DirectiveDecl& directive : model.directives) {
        const VariableDecl* variable = directive.variable();
        if (variable && variable->name == reference.name) {
          default_value = variable->value;
          break;
        }
      }
    }
    if (default_value) documentation += "\n\nDefault: " + in_backticks(*default_value);
    return HoverInfo{"variable", "{{" + std::string(reference.name) + "}}",
                     std::move(documentation), std::nullopt, range};
  }
  return std::nullopt;
}

// The shell a task's commands run in: its own clause, else the first `!shell` of the document,
// else the language default.
std::string command_shell(const TaskDecl& task, const SemanticModel& model) {
  if (task.shell) return std::string(name(task.shell->shell));
  for (const DirectiveDecl& directive : model.directives) {
    if (const ShellDirective* shell = directive.shell()) return shell->word;
  }
  return "deno";
}

std::optional<HoverInfo> body_hover(const SemanticModel& model, uint32_t offset) {
  const TaskDecl* task = task_containing(model, offset);
  if (!task) return std::nullopt;
  for (const CommandLine& command : task->commands) {
    if (!command.range.contains(offset)) continue;
    if (auto placeholder = placeholder_hover(*task, command, model, offset)) return placeholder;
    const std::string shell = command_shell(*task, model);
    return HoverInfo{"command block", "block (" + shell + ")",
                     "Runs this block once with " + in_backticks(shell) + ".",
                     task->qualified_name(), command.range};
  }
  return std::nullopt;
}

// ---- 10 to 12 ----

HoverInfo task_hover(const TaskDecl& task, TextRange range) {
  std::string defaults;
  for (const ParamDecl& parameter : task.parameters) {
    if (!parameter.default_value) continue;
    if (!defaults.empty()) defaults += ", ";
    defaults += in_backticks(*parameter.default_value);
  }
  std::string documentation(task.summary.value_or(""));
  if (!defaults.empty()) {
    if (!documentation.empty()) documentation += "\n\n";
    documentation += "Default to " + defaults + ".";
  }
  return HoverInfo{"task", task.task_signature(),
                   documentation.empty() ? std::nullopt : std::optional(documentation), task.group,
                   range};
}

// The task's own name in its header, or the name in a (non-parallel) dependency entry when it
// names a task of the document; the first definition stands for all overloads.
std::optional<HoverInfo> task_reference_hover(const SemanticModel& model, uint32_t offset) {
  const TaskDecl* task = task_containing(model, offset);
  if (!task) return std::nullopt;
  if (task->name_range.contains(offset)) return task_hover(*task, task->name_range);
  for (const DependencyDecl& dependency : task->dependencies) {
    if (!dependency.name_range.contains(offset)) continue;
    for (const TaskDecl& target : model.tasks) {
      if (target.qualified_name() == dependency.name) {
        return task_hover(target, dependency.name_range);
      }
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<HoverInfo> group_hover(const SyntaxNode& item, const SemanticModel& model) {
  const std::optional<GroupLine> line = GroupLine::cast(item);
  if (!line) return std::nullopt;
  const bool close = line->is_close();
  const std::optional<std::string> line_name = line->name();
  auto group = std::find_if(model.groups.begin(), model.groups.end(), [&](const GroupDecl& g) {
    return close ? g.close_range == line->range() : line_name && g.name == *line_name;
  });
  if (group == model.groups.end()) return std::nullopt;
  std::optional<std::string> documentation;
  if (group->summary && !group->summary->empty()) documentation = group->summary;
  return HoverInfo{"group", close ? "}" : "group " + group->name + " {", std::move(documentation),
                   std::nullopt, line->range()};
}

std::optional<std::string_view> fallback_shell(const ShellKind& shell) {
  if (shell == ShellKind::Bash) return "sh";
  if (shell == ShellKind::Pwsh) return "powershell";
  return std::nullopt;
}

std::optional<HoverInfo> shell_override_hover(const CursorPath& path, uint32_t offset) {
  const SyntaxNode* node = path.nearest(K::TaskHeader);
  if (!node) return std::nullopt;
  const std::optional<ShellOverride> clause = TaskHeader::cast(*node)->shell_override();
  if (!clause) return std::nullopt;
  const std::optional<ShellOverrideView> view = clause->view();
  if (!view || !view->range.contains(offset)) return std::nullopt;

  const std::string shell(name(view->shell));
  std::string documentation;
  if (view->mode == ShellMode::Required) {
    documentation = "Uses " + shell + ". The task fails if it is unavailable.";
  } else if (const std::optional<std::string_view> fallback = fallback_shell(view->shell)) {
    documentation =
        "Prefers " + shell + " and falls back to " + std::string(*fallback) + " when unavailable.";
  } else {
    documentation = shell + " has no fallback. Use " + in_backticks("shell=" + shell) + ".";
  }
  return HoverInfo{"shell", std::string(name(view->mode)) + shell, std::move(documentation),
                   std::nullopt, view->range};
}

}  // namespace

std::optional<HoverInfo> hover_at(const DocumentSnapshot& snapshot, uint32_t offset) {
  const SemanticModel& model = snapshot.model;
  // Other requests may walk the same tree at the same time: handles of a root of our own.
  const SyntaxNode root = snapshot.parse_result.root.share_root();
  const std::optional<CursorPath> path = path_at(root, offset);
  const SyntaxNode* item = path ? path->item() : nullptr;

  if (item) {
    if (auto found = directive_hover(*item, snapshot.text)) return found;
    if (auto found = metadata_hover(*item)) return found;
    if (auto found = marker_hover(*path)) return found;
    if (auto found = parallel_hover(*path, offset)) return found;
    if (auto found = parameter_hover(*path, model, offset)) return found;
    if (auto found = guard_call_hover(*path, offset)) return found;
  }
  // Placeholders and command lines live in the body, where the model knows their ranges.
  if (auto found = body_hover(model, offset)) return found;
  if (!item) return std::nullopt;
  if (auto found = task_reference_hover(model, offset)) return found;
  if (auto found = group_hover(*item, model)) return found;
  return shell_override_hover(*path, offset);
}

std::string hover_markdown(const HoverInfo& info) {
  std::string value = "```quibfile\n" + info.code + "\n```";
  if (info.documentation && !info.documentation->empty()) value += "\n\n" + *info.documentation;
  if (info.container && !info.container->empty()) {
    value += "\n\nContainer: " + in_backticks(*info.container);
  }
  return value;
}

}  // namespace quib::lsp
