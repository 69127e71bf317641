// Fuzzes `analyze`: it never crashes on any text, and on valid UTF-8 every diagnostic range and
// every range of the model lies inside the text with both ends on character boundaries. Lowering
// in two runs and into a reused task list give the same model. The names of the text without
// one line, read from the model around a short scan, are those of a scan of the shortened text.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "lsp/declared_names.h"
#include "semantic/analyze.h"
#include "semantic/lower.h"

namespace quib::fuzz {
namespace {

void check_range(std::string_view text, TextRange range, const char* what) {
  FUZZ_CHECK(range.start <= range.end, what);
  FUZZ_CHECK(range.end <= text.size(), what);
  FUZZ_CHECK(is_char_boundary(text, range.start) && is_char_boundary(text, range.end), what);
}

void check_metadata(std::string_view text, const MetadataBlock& metadata) {
  for (TextRange range : metadata.help_ranges) check_range(text, range, "help range");
}

void check_command(std::string_view text, const TaskDecl& task, const CommandLine& command) {
  check_range(text, command.range, "command range");
  FUZZ_CHECK(task.range.start <= command.range.start && command.range.end <= task.range.end,
             "a command lies inside its task");
  if (!command.is_block()) {
    FUZZ_CHECK(text.substr(command.range.start, command.range.len()) == command.text,
               "a single-line command is the text at its range");
  }
  FUZZ_CHECK(command.line_ranges.size() == command.marker_ranges.size(),
             "one marker per block line");
  for (TextRange range : command.line_ranges) check_range(text, range, "block line range");
  for (TextRange range : command.marker_ranges) check_range(text, range, "block marker range");
  const CommandOffsetMap map(command);
  for (const Interpolation& interpolation : command.interpolations) {
    FUZZ_CHECK(interpolation.range.end <= command.text.size(), "interpolation inside its text");
    const TextRange in_document = map.to_document(interpolation.range);
    check_range(text, in_document, "interpolation mapped to the document");
    FUZZ_CHECK(command.range.start <= in_document.start && in_document.end <= command.range.end,
               "a mapped interpolation lies inside its command");
    if (auto name = interpolation_name_range(command.text, interpolation)) {
      check_range(text, map.to_document(*name), "interpolation name mapped to the document");
    }
  }
}

void check_model(std::string_view text, const SemanticModel& model) {
  for (const Diagnostic& diagnostic : model.diagnostics) {
    check_range(text, diagnostic.range, "diagnostic range");
    for (TextRange range : diagnostic.secondary_ranges) {
      check_range(text, range, "diagnostic secondary range");
    }
    for (const DiagnosticNote& note : diagnostic.related_notes) {
      check_range(text, note.range, "diagnostic note range");
    }
  }
  for (const DirectiveDecl& directive : model.directives) {
    check_range(text, directive.range, "directive range");
    if (const VariableDecl* variable = directive.variable()) {
      check_range(text, variable->name_range, "variable name range");
      check_range(text, variable->range, "variable range");
    }
  }
  for (const GroupDecl& group : model.groups) {
    check_range(text, group.range, "group range");
    if (group.close_range) check_range(text, *group.close_range, "group close range");
    check_metadata(text, group.metadata);
  }
  for (const TaskDecl& task : model.tasks) {
    check_range(text, task.range, "task range");
    check_range(text, task.name_range, "task name range");
    check_metadata(text, task.metadata);
    for (const ParamDecl& parameter : task.parameters) {
      check_range(text, parameter.range, "parameter range");
    }
    for (const GuardDecl& guard : task.guards) check_range(text, guard.range, "guard range");
    for (const DependencyDecl& dependency : task.dependencies) {
      check_range(text, dependency.name_range, "dependency name range");
      check_range(text, dependency.range, "dependency range");
      for (const DependencyArgument& argument : dependency.arguments) {
        check_range(text, argument.range, "dependency argument range");
      }
    }
    if (task.shell) check_range(text, task.shell->range, "shell clause range");
    for (const CommandLine& command : task.commands) check_command(text, task, command);
  }
  for (const SymbolEntry& symbol : model.group_symbols) {
    check_range(text, symbol.range, "group symbol range");
  }
  for (const SymbolEntry& symbol : model.task_symbols) {
    check_range(text, symbol.range, "task symbol range");
  }
}

// The line that starts at or before `offset`, left out: the model's names around a scan agree
// with a scan of the whole shortened text.
void check_names_without_line(std::string_view text, const SemanticModel& model, size_t offset) {
  const size_t line_start = offset == 0 ? 0 : text.rfind('\n', offset - 1) + 1;
  const size_t feed = text.find('\n', line_start);
  const size_t line_end = feed == std::string_view::npos ? text.size() : feed + 1;
  const std::string shortened =
      std::string(text.substr(0, line_start)) + std::string(text.substr(line_end));
  lsp::DeclaredNamesReader scanned;
  scan_items(shortened, "", [&](const ScannedItem& item) {
    scanned.take(item, [&](TextRange range) {
      return std::string_view(shortened).substr(range.start, range.len());
    });
    return true;
  });
  FUZZ_CHECK(lsp::declared_names_without(model, text, line_start, line_end) == scanned.finish(),
             "names without a line match a scan of the shortened text");
}

}  // namespace
}  // namespace quib::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const quib::ParseResult parsed = quib::parse(text);
  const quib::SemanticModel model = quib::analyze(parsed);
  if (quib::fuzz::is_valid_utf8(text)) quib::fuzz::check_model(text, model);
  // Lowering in two runs, cut before a child the input chooses, gives the model of one run;
  // and a model built in the task list of another (this one's) equals a fresh one.
  const uint32_t cut = size == 0 ? 0 : data[0] % (parsed.root.child_count() + 1);
  FUZZ_CHECK(quib::lower(parsed, cut) == quib::lower(parsed),
             "lowering in two runs gives the model of one run");
  quib::SemanticModel reused = quib::analyze(parsed);
  FUZZ_CHECK(quib::analyze(parsed, quib::empty_model(reused)) == model,
             "a model built in a reused task list equals a fresh one");
  quib::fuzz::check_names_without_line(text, model, size == 0 ? 0 : data[size - 1] * size / 256);
  return 0;
}
