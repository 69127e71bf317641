// The whole-file checks, in their fixed order: shell directives, groups, tasks, repeated
// `!shell`, repeated variables, repeated tasks. Sets answer membership only; every loop runs
// over model lists, so the diagnostic order never depends on hashing.
#include "semantic/checks.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "semantic/index_table.h"
#include "syntax/parallel.h"

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

// A guard as the duplicate checks compare it: its kind word and its argument. Kind words are
// Word tokens, which never hold the `:` of the written form `kind:argument`, so two guards
// are the same exactly when both parts are.
using GuardKey = std::pair<std::string_view, std::string_view>;

GuardKey guard_key(const GuardDecl& guard) {
  return {guard.kind.word(), guard.argument};
}

struct GuardKeyHash {
  size_t operator()(const GuardKey& key) const {
    return hash_combine(hash_text(key.first), hash_text(key.second));
  }
};

bool same_guards(const TaskDecl& a, const TaskDecl& b) {
  return std::equal(
      a.guards.begin(), a.guards.end(), b.guards.begin(), b.guards.end(),
      [](const GuardDecl& x, const GuardDecl& y) { return guard_key(x) == guard_key(y); });
}

bool same_parameters(const TaskDecl& a, const TaskDecl& b) {
  return std::equal(a.parameters.begin(), a.parameters.end(), b.parameters.begin(),
                    b.parameters.end(), [](const ParamDecl& x, const ParamDecl& y) {
                      return x.name == y.name && x.variadic == y.variadic &&
                             x.default_value == y.default_value;
                    });
}

// Membership among the names of one task: a linear scan while there are few, a hash set as
// well once there are more, so a task with thousands of parameters stays linear. Reused from
// task to task through `clear`.
template <typename Key, typename Hash = std::hash<Key>>
class SmallSet {
 public:
  bool contains(const Key& key) const {
    if (items_.size() > kLinear) return large_.contains(key);
    return std::find(items_.begin(), items_.end(), key) != items_.end();
  }
  // False when `key` was already there.
  bool insert(const Key& key) {
    if (contains(key)) return false;
    items_.push_back(key);
    if (items_.size() == kLinear + 1) {
      large_.insert(items_.begin(), items_.end());
    } else if (items_.size() > kLinear + 1) {
      large_.insert(key);
    }
    return true;
  }
  void clear() {
    items_.clear();
    if (!large_.empty()) large_ = {};
  }

 private:
  static constexpr size_t kLinear = 16;
  std::vector<Key> items_;
  std::unordered_set<Key, Hash> large_;  // Invariant: empty, or holds exactly `items_`.
};

// The file-wide lookups the checks share; read-only once built, so checks on two threads may
// use them at once. Indices and views into the model, which outlives the tables.
struct FileTables {
  FileTables(const SemanticModel& model, const TaskTables& task_tables) : tasks(task_tables) {
    for (const DirectiveDecl& directive : model.directives) {
      if (const VariableDecl* variable = directive.variable()) variables.insert(variable->name);
    }
  }

  const TaskTables& tasks;                         // built by lowering, or for the checks alone
  std::unordered_set<std::string_view> variables;  // global variable names
};

// Below this many tasks the per-task checks run on the calling thread alone.
constexpr size_t kTwoRunTaskChecks = 2048;
// Tasks checked in one go by either thread when the checks run on two.
constexpr size_t kTaskChunk = 256;

class Checker {
 public:
  Checker(const SemanticModel& model, const FileTables& tables)
      : model_(model),
        task_names_(tables.tasks.qualified_names),
        top_level_task_names_(tables.tasks.top_level_names),
        variables_(tables.variables),
        tables_(tables) {}

  std::vector<Diagnostic> run() {
    for (const DirectiveDecl& directive : model_.directives) {
      if (const ShellDirective* shell = directive.shell()) {
        check_shell(ShellKind::from_word(shell->word), ShellMode::Required, directive.range);
      }
    }
    for (const GroupDecl& group : model_.groups) check_group(group);
    const size_t count = model_.tasks.size();
    if (count < kTwoRunTaskChecks) {
      for (size_t i = 0; i < count; ++i) check_task(model_.tasks[i], i);
      check_repeated_shell_directives();
      check_repeated_variables();
      check_repeated_tasks();
      return std::move(found_);
    }
    // Many tasks: the helper checks the repeated tasks, the one check that must see every
    // task, while the calling thread checks the tasks a chunk at a time; the helper then takes
    // chunks too, so both end together however the two kinds of check weigh against each other
    // (the repeated tasks' tables outgrow the caches sooner). Each chunk keeps its findings
    // apart, and they are joined in check order.
    const size_t chunks = (count + kTaskChunk - 1) / kTaskChunk;
    std::vector<std::vector<Diagnostic>> chunk_findings(chunks);
    std::atomic<size_t> next_chunk = 0;
    const auto check_chunks = [&](Checker& checker) {
      for (size_t chunk; (chunk = next_chunk.fetch_add(1, std::memory_order_relaxed)) < chunks;) {
        const size_t end = std::min(count, (chunk + 1) * kTaskChunk);
        for (size_t i = chunk * kTaskChunk; i < end; ++i) {
          prefetch_task(model_.tasks, i);
          checker.check_task(model_.tasks[i], i);
        }
        chunk_findings[chunk] = std::move(checker.found_);
        checker.found_.clear();
      }
    };
    Checker first(model_, tables_);
    Checker second(model_, tables_);
    Checker repeated(model_, tables_);
    run_in_parallel([&] { check_chunks(first); },
                    [&] {
                      repeated.check_repeated_tasks();
                      check_chunks(second);
                    });
    for (std::vector<Diagnostic>& findings : chunk_findings) {
      found_.insert(found_.end(), std::make_move_iterator(findings.begin()),
                    std::make_move_iterator(findings.end()));
    }
    check_repeated_shell_directives();
    check_repeated_variables();
    take_findings(repeated);
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
    const std::pair<std::string_view, const std::optional<std::string_view>*> texts[] = {
        {"help", &block.help}, {"desc", &block.desc}, {"pass", &block.pass}, {"fail", &block.fail}};
    for (const auto& [key, value] : texts) {
      if (!*value) continue;
      const std::string_view text = **value;
      const std::string_view field = key;
      for_each_interpolation(text, [&](TextRange, TextRange name_range) {
        const std::string_view name = text.substr(name_range.start, name_range.len());
        if (variables_.contains(name)) return;
        raise("semantic.metadata-variable",
              std::string(field) + " can only use a global variable named '" + std::string(name) +
                  "'",
              owner);
      });
    }
  }

  void check_group(const GroupDecl& group) {
    check_metadata(group.metadata, /*is_group=*/true, group.range);
    const bool conflict =
        top_level_task_names_
            .find(hash_text(group.name),
                  [&](uint32_t task) { return model_.tasks[task].name == group.name; })
            .has_value();
    if (conflict) {
      raise("semantic.namespace-conflict",
            "task and group cannot both be named '" + group.name + "'", group.range);
    }
  }

  void take_findings(Checker& other) {
    found_.insert(found_.end(), std::make_move_iterator(other.found_.begin()),
                  std::make_move_iterator(other.found_.end()));
  }

  // The qualified name of task `index`, computed once by lowering for the symbol list.
  const std::string& task_name(size_t index) const { return model_.task_symbols[index].name; }

  void check_task(const TaskDecl& task, size_t index) {
    const std::string& name = task_name(index);
    check_metadata(task.metadata, /*is_group=*/false, task.range);

    parameters_.clear();
    for (size_t i = 0; i < task.parameters.size(); ++i) {
      const ParamDecl& parameter = task.parameters[i];
      if (!parameters_.insert(parameter.name)) {
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

    guards_.clear();
    for (const GuardDecl& guard : task.guards) {
      const std::string kind(guard.kind.word());
      if (guard.kind.is_other()) {
        static const std::string known = known_words<GuardKindMembers>("'@", "'");
        raise("semantic.unknown-guard", "guard '@" + kind + "' is not supported; use " + known,
              guard.range);
      }
      if (!guards_.insert(guard_key(guard))) {
        raise("semantic.duplicate-guard",
              "guard '@" + kind + "(\"" + guard.argument + "\")' is repeated", guard.range);
      }
    }

    dependencies_.clear();
    for (const DependencyDecl& dependency : task.dependencies) {
      const bool defined =
          task_names_
              .find(hash_text(dependency.name),
                    [&](uint32_t other) { return task_name(other) == dependency.name; })
              .has_value();
      if (!defined) {
        raise("semantic.undefined-dependency",
              "task '" + name + "' depends on missing task '" + dependency.name + "'",
              dependency.name_range);
      }
      if (!dependencies_.insert(dependency.name)) {
        raise("semantic.duplicate-dependency",
              "dependency '" + dependency.name + "' is repeated in task '" + name + "'",
              dependency.name_range);
      }
    }

    for (const CommandLine& command : task.commands) {
      // The offset map is built only for a command that has an undefined reference.
      std::optional<CommandOffsetMap> to_document;
      for (const Interpolation& reference : command.interpolations) {
        if (parameters_.contains(reference.name) || variables_.contains(reference.name)) continue;
        if (!to_document) to_document.emplace(command);
        raise("semantic.undefined-variable",
              "variable '" + std::string(reference.name) + "' is not defined",
              to_document->to_document(reference.range));
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
    std::unordered_map<std::string_view, TextRange> last_definition;
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
  // order are ambiguous; the same name, parameters and guards are a duplicate. The tables hold
  // task indices and compare the tasks' fields in place.
  void check_repeated_tasks() {
    const auto hash_guards = [this](size_t i) {
      size_t seed = tables_.tasks.name_hashes[i];
      for (const GuardDecl& guard : model_.tasks[i].guards) {
        seed = hash_combine(seed, GuardKeyHash{}(guard_key(guard)));
      }
      return seed;
    };
    const auto same_name_and_guards = [this](size_t a, size_t b) {
      return task_name(a) == task_name(b) && same_guards(model_.tasks[a], model_.tasks[b]);
    };
    // Extends the hash of the name and guards with the parameters.
    const auto hash_signature = [&](size_t i, size_t seed) {
      for (const ParamDecl& parameter : model_.tasks[i].parameters) {
        seed = hash_combine(seed, hash_text(parameter.name));
        seed = hash_combine(seed, parameter.variadic ? 1 : 2);
        seed =
            hash_combine(seed, parameter.default_value ? hash_text(*parameter.default_value) : 3);
      }
      return seed;
    };
    const auto same_signature = [&](size_t a, size_t b) {
      return same_name_and_guards(a, b) && same_parameters(model_.tasks[a], model_.tasks[b]);
    };
    IndexTable guard_signatures(model_.tasks.size());
    IndexTable full_signatures(model_.tasks.size());
    for (uint32_t i = 0; i < model_.tasks.size(); ++i) {
      prefetch_task(model_.tasks, i);
      const TaskDecl& task = model_.tasks[i];
      const std::string& name = task_name(i);
      const auto same_guards_as_this = [&](uint32_t other) {
        return same_name_and_guards(i, other);
      };
      const size_t guards_hash = hash_guards(i);
      if (!task.guards.empty() &&
          guard_signatures.insert(guards_hash, i, same_guards_as_this) != i) {
        raise("semantic.ambiguous-guard", "task '" + name + "' has the same guard more than once",
              task.range);
      }
      const auto same_as_this = [&](uint32_t other) { return same_signature(i, other); };
      if (full_signatures.insert(hash_signature(i, guards_hash), i, same_as_this) != i) {
        raise("semantic.duplicate-task", "task '" + name + "' is defined more than once",
              task.range);
      }
    }
  }

  const SemanticModel& model_;
  const IndexTable& task_names_;
  const IndexTable& top_level_task_names_;
  const std::unordered_set<std::string_view>& variables_;
  const FileTables& tables_;
  // The names seen so far in the task being checked.
  SmallSet<std::string_view> parameters_;
  SmallSet<GuardKey, GuardKeyHash> guards_;
  SmallSet<std::string_view> dependencies_;
  std::vector<Diagnostic> found_;
};

}  // namespace

std::vector<Diagnostic> run_checks(const SemanticModel& model) {
  return run_checks(model, TaskTables::of(model));
}

std::vector<Diagnostic> run_checks(const SemanticModel& model, const TaskTables& task_tables) {
  const FileTables tables(model, task_tables);
  return Checker(model, tables).run();
}

}  // namespace quib
