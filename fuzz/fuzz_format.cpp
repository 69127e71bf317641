// Fuzzes the formatter on the texts it accepts: formatting is idempotent, the output parses
// without diagnostics and analyses to the same diagnostic codes (but for empty task bodies,
// whose colon the layout drops, and metadata the layout attaches), and the meaning is kept (the
// same directives, groups, tasks, parameters, guards, dependencies, shells and commands).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "semantic/analyze.h"
#include "syntax/formatter.h"
#include "syntax/text_util.h"

namespace quib::fuzz {
namespace {

// A command text as the formatter may rewrite it: each line without its leading
// blanks and with each reference on it written with its trimmed name. The formatter works line
// by line, so references are found per line here too (in a block, a "{{" left open on one line
// reaches into the next only in the joined text).
std::string canonical_text(std::string_view text) {
  std::string out;
  while (true) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    size_t copied = 0;
    for (const Interpolation& interpolation : scan_interpolations(line)) {
      out.append(line.substr(copied, interpolation.range.start - copied));
      out += "{{";
      out += interpolation.name;
      out += "}}";
      copied = interpolation.range.end;
    }
    out.append(line.substr(copied));
    if (end == std::string_view::npos) return out;
    out += '\n';
    text.remove_prefix(end + 1);
  }
}

// Everything the layout must not change, one line per declaration, without ranges. Metadata is
// left out: the layout sticks metadata to the item below it even where a blank line had
// detached it.
std::string meaning(const SemanticModel& model) {
  std::string out;
  for (const DirectiveDecl& directive : model.directives) {
    if (const LanguageVersion* version = directive.version()) {
      out += "version " + std::to_string(version->major) + "." + std::to_string(version->minor);
    } else if (const ShellDirective* shell = directive.shell()) {
      // The layout trims a directive line's end, which an unterminated string ("zsh) reaches,
      // carriage return included: such an unknown shell may lose its trailing white space.
      out += "shell " + std::string(trim_unicode_whitespace(shell->word));
    } else if (const VariableDecl* variable = directive.variable()) {
      out += "var " + variable->name + "=[" + variable->value + "]";
    }
    out += '\n';
  }
  for (const GroupDecl& group : model.groups) {
    out += "group " + group.name + (group.close_range ? " closed" : " open") + "\n";
  }
  for (const TaskDecl& task : model.tasks) {
    out += "task " + task.qualified_name() + " " + task.task_signature();
    for (const GuardDecl& guard : task.guards) {
      out += " ?" + std::string(guard.kind.word()) + "(" + guard.argument + ")";
    }
    for (const DependencyDecl& dependency : task.dependencies) {
      out += " &" + std::to_string(dependency.clause_index) + ":" + dependency.name;
      for (const DependencyArgument& argument : dependency.arguments) {
        out += " [" + argument.text + "]";
      }
    }
    if (task.shell) {
      out += " " + std::string(name(task.shell->mode)) + std::string(task.shell->shell.word());
    }
    out += '\n';
    for (const CommandLine& command : task.commands) {
      out += (command.is_block() ? "  | [" : "  [") + canonical_text(command.text) + "]\n";
    }
  }
  return out;
}

// Codes that depend on which task or group a metadata line attaches to. The layout writes no
// blank line after metadata, so loose metadata attaches to the item below it and may then
// raise them.
bool is_attachment_code(std::string_view code) {
  return code == "semantic.metadata-variable" || code == "semantic.duplicate-help" ||
         code == "semantic.unknown-metadata-field" || code == "semantic.group-result-metadata";
}

// The diagnostic codes in order. The layout writes a task without commands without its colon,
// which settles `semantic.empty-task-body`; every other code but the attachment codes must
// survive formatting, and no new one may appear.
std::string codes(const SemanticModel& model) {
  std::string out;
  for (const Diagnostic& diagnostic : model.diagnostics) {
    if (diagnostic.code != "semantic.empty-task-body" && !is_attachment_code(diagnostic.code)) {
      out += diagnostic.code + "\n";
    }
  }
  return out;
}

size_t empty_bodies(const SemanticModel& model) {
  return std::count_if(model.diagnostics.begin(), model.diagnostics.end(),
                       [](const Diagnostic& d) { return d.code == "semantic.empty-task-body"; });
}

void report(const char* what, std::string_view before, std::string_view after) {
  std::fprintf(stderr, "%s\n--- input\n%.*s\n--- formatted\n%.*s\n---\n", what,
               static_cast<int>(before.size()), before.data(), static_cast<int>(after.size()),
               after.data());
}

void check(std::string_view text) {
  const std::optional<std::string> formatted = format_document(text);
  if (!formatted) return;

  const ParseResult input_parse = parse(text);
  FUZZ_CHECK(input_parse.diagnostics.empty(), "the formatter refuses texts with parse errors");
  const ParseResult output_parse = parse(*formatted);
  if (!output_parse.diagnostics.empty()) {
    report(output_parse.diagnostics.front().code.c_str(), text, *formatted);
  }
  FUZZ_CHECK(output_parse.diagnostics.empty(), "formatted text parses cleanly");

  const SemanticModel before = analyze(input_parse);
  const SemanticModel after = analyze(output_parse);
  if (codes(before) != codes(after)) report("diagnostics differ", codes(before), codes(after));
  FUZZ_CHECK(codes(before) == codes(after), "formatting keeps the diagnostic codes");
  FUZZ_CHECK(empty_bodies(after) <= empty_bodies(before), "formatting empties no task body");
  const std::string meaning_before = meaning(before);
  const std::string meaning_after = meaning(after);
  if (meaning_before != meaning_after) {
    report("meaning differs", text, *formatted);
    report("models", meaning_before, meaning_after);
  }
  FUZZ_CHECK(meaning_before == meaning_after, "formatting keeps the meaning");

  const std::optional<std::string> again = format_document(*formatted);
  if (again != formatted) report("not idempotent", *formatted, again.value_or("<refused>"));
  FUZZ_CHECK(again == formatted, "formatting is idempotent");
}

}  // namespace
}  // namespace quib::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!quib::fuzz::is_valid_utf8(text)) return -1;
  quib::fuzz::check(text);
  return 0;
}
