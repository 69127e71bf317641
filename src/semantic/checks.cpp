// The whole-file checks, in their fixed order: shell directives, groups, tasks, repeated
// `!shell`, repeated variables, repeated tasks. Sets answer membership only; every loop runs
// over model lists, so the diagnostic order never depends on hashing.
#include "semantic/checks.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace quib {
namespace {

// "a", "a, or b", "a, b, or c": ", " between all but the last two items, ", or " before the
// last.
std::string join_alternatives(std::span<const std::string> items) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += i + 1 == items.size() ? ", or " : ", ";
    joined += items[i];
  }
  return joined;
}

// Each known word of `Members` rendered with `before` and `after` around it.
template <typename Members>
std::string known_words(std::string_view before, std::string_view after) {
  std::vector<std::string> rendered;
  for (std::string_view word : Members::kWords) {
    std::string item(before);
    item += word;
    item += after;
    rendered.push_back(std::move(item));
  }
  return join_alternatives(rendered);
}

TextRange cover(TextRange a, TextRange b) {
  return {std::min(a.start, b.start), std::max(a.end, b.end)};
}

// Appends `part` so that no two different sequences of parts give the same key, whatever bytes
// the parts hold (defaults and guard arguments are arbitrary string contents).
void append_key_part(std::string& key, std::string_view part) {
  key += std::to_string(part.size());
  key += ':';
  key += part;
}

std::string guard_key(const GuardDecl& guard) {
  return std::string(guard.kind.word()) + ":" + guard.argument;
}

class Checker {
 public:
  explicit Checker(const SemanticModel& model) : model_(model) {
    QUIB_ASSERT(model.task_symbols.size() == model.tasks.size(),
                "lowering must give every task one symbol");
    for (const SymbolEntry& symbol : model.task_symbols) task_names_.insert(symbol.name);
    for (const TaskDecl& task : model.tasks) {
      if (!task.group) top_level_task_names_.insert(task.name);
    }
    for (const DirectiveDecl& directive : model.directives) {
      if (const VariableDecl* variable = directive.variable()) variables_.insert(variable->name);
    }
  }

  std::vector<Diagnostic> run() {
    for (const DirectiveDecl& directive : model_.directives) {
      if (const ShellDirective* shell = directive.shell()) {
        check_shell(ShellKind::from_word(shell->word), ShellMode::Required, directive.range);
      }
    }
    for (const GroupDecl& group : model_.groups) check_group(group);
    for (size_t i = 0; i < model_.tasks.size(); ++i) check_task(model_.tasks[i], i);
    check_repeated_shell_directives();
    check_repeated_variables();
    check_repeated_tasks();
    return std::move(found_);
  }

 private:
  void raise(std::string_view code, std::string_view message, TextRange range) {
    found_.push_back(Diagnostic::check(code, message, range));
  }

  void check_shell(const ShellKind& shell, ShellMode mode, TextRange range) {
    const std::string word(shell.word());
    if (shell.is_other()) {
      static const std::string known = known_words<ShellKindMembers>("'", "'");
      raise("semantic.unknown-shell", "shell '" + word + "' is not supported; use " + known, range);
      return;
    }
    const bool has_fallback = shell == ShellKind::Bash || shell == ShellKind::Pwsh;
    if (mode == ShellMode::Preferred && !has_fallback) {
      raise("semantic.invalid-shell-fallback",
            "shell '" + word + "' has no fallback; use `shell=" + word + "`", range);
    }
  }

  void check_metadata(const MetadataBlock& block, bool is_group, TextRange owner) {
    if (block.help_count() >= 2) {
      raise("semantic.duplicate-help", "`[help]` can be used only once", block.help_ranges[1]);
    }
    for (const std::string& key : block.unknown_fields) {
      raise("semantic.unknown-metadata-field",
            "unknown metadata field `" + key + "`; expected help, desc, pass, or fail", owner);
    }
    if (is_group && (block.pass || block.fail)) {
      raise("semantic.group-result-metadata", "`[pass]` and `[fail]` are only valid on tasks",
            owner);
    }
    const std::pair<std::string_view, const std::optional<std::string>*> texts[] = {
        {"help", &block.help}, {"desc", &block.desc}, {"pass", &block.pass}, {"fail", &block.fail}};
    for (const auto& [key, text] : texts) {
      if (!*text) continue;
      for (const Interpolation& reference : scan_interpolations(**text)) {
        if (variables_.contains(reference.name)) continue;
        raise("semantic.metadata-variable",
              std::string(key) + " can only use a global variable named '" + reference.name + "'",
              owner);
      }
    }
  }

  void check_group(const GroupDecl& group) {
    check_metadata(group.metadata, /*is_group=*/true, group.range);
    if (top_level_task_names_.contains(group.name)) {
      raise("semantic.namespace-conflict",
            "task and group cannot both be named '" + group.name + "'", group.range);
    }
  }

  // The qualified name of task `index`, computed once by lowering for the symbol list.
  const std::string& task_name(size_t index) const { return model_.task_symbols[index].name; }

  void check_task(const TaskDecl& task, size_t index) {
    const std::string& name = task_name(index);
    check_metadata(task.metadata, /*is_group=*/false, task.range);

    std::unordered_set<std::string> parameters;
    for (size_t i = 0; i < task.parameters.size(); ++i) {
      const ParamDecl& parameter = task.parameters[i];
      if (!parameters.insert(parameter.name).second) {
        raise("semantic.duplicate-parameter",
              "parameter '" + parameter.name + "' is used more than once in task '" + name + "'",
              task.range);
      }
      if (parameter.variadic && i + 1 != task.parameters.size()) {
        raise("semantic.slice-parameter-position",
              "slice parameter '" + parameter.name + "..' must be last in task '" + name + "'",
              task.range);
      }
      if (parameter.variadic && parameter.default_value) {
        raise("semantic.slice-parameter-default",
              "slice parameter '" + parameter.name + "..' cannot have a default", task.range);
      }
    }

    if (task.shell) check_shell(task.shell->shell, task.shell->mode, task.shell->range);

    std::unordered_set<std::string> guards;
    for (const GuardDecl& guard : task.guards) {
      const std::string kind(guard.kind.word());
      if (guard.kind.is_other()) {
        static const std::string known = known_words<GuardKindMembers>("'@", "'");
        raise("semantic.unknown-guard", "guard '@" + kind + "' is not supported; use " + known,
              guard.range);
      }
      if (!guards.insert(guard_key(guard)).second) {
        raise("semantic.duplicate-guard",
              "guard '@" + kind + "(\"" + guard.argument + "\")' is repeated", guard.range);
      }
    }

    std::unordered_set<std::string> dependencies;
    for (const DependencyDecl& dependency : task.dependencies) {
      if (!task_names_.contains(dependency.name)) {
        raise("semantic.undefined-dependency",
              "task '" + name + "' depends on missing task '" + dependency.name + "'",
              dependency.name_range);
      }
      if (!dependencies.insert(dependency.name).second) {
        raise("semantic.duplicate-dependency",
              "dependency '" + dependency.name + "' is repeated in task '" + name + "'",
              dependency.name_range);
      }
    }

    for (const CommandLine& command : task.commands) {
      if (command.interpolations.empty()) continue;
      const CommandOffsetMap to_document(command);
      for (const Interpolation& reference : command.interpolations) {
        if (parameters.contains(reference.name) || variables_.contains(reference.name)) continue;
        raise("semantic.undefined-variable", "variable '" + reference.name + "' is not defined",
              to_document.to_document(reference.range));
      }
    }
  }

  void check_repeated_shell_directives() {
    std::optional<TextRange> previous;
    for (const DirectiveDecl& directive : model_.directives) {
      if (!directive.shell()) continue;
      if (previous) {
        raise("semantic.duplicate-directive", "`!shell` is used more than once",
              cover(*previous, directive.range));
      }
      previous = directive.range;
    }
  }

  void check_repeated_variables() {
    std::unordered_map<std::string, TextRange> last_definition;
    for (const DirectiveDecl& directive : model_.directives) {
      const VariableDecl* variable = directive.variable();
      if (!variable) continue;
      auto [entry, inserted] = last_definition.try_emplace(variable->name, variable->range);
      if (!inserted) {
        raise("variable.duplicate", "variable '" + variable->name + "' is used more than once",
              cover(entry->second, variable->range));
        entry->second = variable->range;
      }
    }
  }

  // Definitions that differ in guards or parameters are overloads; the same guards in the same
  // order are ambiguous; the same name, parameters and guards are a duplicate.
  void check_repeated_tasks() {
    std::unordered_set<std::string> guard_signatures;
    std::unordered_set<std::string> full_signatures;
    for (size_t i = 0; i < model_.tasks.size(); ++i) {
      const TaskDecl& task = model_.tasks[i];
      const std::string& name = task_name(i);
      std::string guard_signature;
      for (const GuardDecl& guard : task.guards) append_key_part(guard_signature, guard_key(guard));
      if (!task.guards.empty()) {
        std::string key;
        append_key_part(key, name);
        append_key_part(key, guard_signature);
        if (!guard_signatures.insert(std::move(key)).second) {
          raise("semantic.ambiguous-guard", "task '" + name + "' has the same guard more than once",
                task.range);
        }
      }
      std::string key;
      append_key_part(key, name);
      for (const ParamDecl& parameter : task.parameters) {
        append_key_part(key, parameter.name);
        key += parameter.variadic ? 'v' : 'p';
        key += parameter.default_value ? 'd' : 'n';
        append_key_part(key, parameter.default_value.value_or(""));
      }
      key += '|';
      append_key_part(key, guard_signature);
      if (!full_signatures.insert(std::move(key)).second) {
        raise("semantic.duplicate-task", "task '" + name + "' is defined more than once",
              task.range);
      }
    }
  }

  const SemanticModel& model_;
  std::unordered_set<std::string> task_names_;  // qualified names of all tasks
  std::unordered_set<std::string> top_level_task_names_;
  std::unordered_set<std::string> variables_;  // global variable names
  std::vector<Diagnostic> found_;
};

}  // namespace

std::vector<Diagnostic> run_checks(const SemanticModel& model) {
  return Checker(model).run();
}

}  // namespace quib
