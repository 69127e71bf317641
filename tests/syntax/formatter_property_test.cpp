// Formatter guarantees over generated valid documents: the output parses cleanly, formatting
// it again changes nothing, every task declares the same things and keeps its commands and its
// metadata, and a declaration edit leaves a document that still parses and formats to the same
// canonical text.
#include <gtest/gtest.h>

#include "support/valid_documents.h"
#include "syntax/ast_view.h"
#include "syntax/format_item.h"
#include "syntax/formatter.h"
#include "syntax/parse.h"
#include "syntax/tree_dump.h"

namespace quib {
namespace {

using testing_support::Draw;
using testing_support::valid_document;

// What every task declares, as the typed view reads it: parameters, guards, dependencies, the
// shell clause, and the commands with placeholders normalised (the one change the formatter
// makes to a command's text).
std::vector<std::string> task_declarations(const std::string& text) {
  std::vector<std::string> out;
  const ParseResult parsed = parse(text);
  for (const SyntaxNode& item : parsed.document().items()) {
    const std::optional<Task> task = Task::cast(item);
    if (!task) continue;
    const TaskHeaderView header = task->header_view();
    std::string line = "task " + task->name().value_or("?") + " (";
    for (const ParameterView& parameter : header.parameters) {
      line += " " + parameter.name + (parameter.is_slice ? ".." : "") + "=" +
              parameter.default_value.value_or("<none>");
    }
    line += " )";
    for (const GuardView& guard : header.guards) {
      line += " ?" + std::string(guard.kind.word()) + ":" + guard.argument;
    }
    for (const DependencyView& dependency : header.dependencies) {
      line += " &" + std::to_string(dependency.clause_index) + ":" + dependency.name;
      for (const DependencyArgument& argument : dependency.arguments) line += "," + argument.text;
    }
    if (header.shell) {
      line += " " + std::string(name(header.shell->mode)) + std::string(header.shell->shell.word());
    }
    out.push_back(line);
    for (const BodyLine& command : task->body_lines()) {
      out.push_back(normalize_placeholders(command.text));
    }
  }
  return out;
}

// Whether the text between a metadata line and the next item holds a blank line: a complete
// line of blanks only. The blanks after the last line break are the item's own indentation,
// not a line: a group's task below a comment line is indented, and that must not detach the
// metadata above the comment.
bool has_blank_line(std::string_view between) {
  const size_t last_break = between.find_last_of("\r\n");
  if (last_break == std::string_view::npos) return false;
  between = between.substr(0, last_break + 1);
  size_t start = 0;
  while (start < between.size()) {
    size_t end = between.find_first_of("\r\n", start);
    if (between.find_first_not_of(" \t", start) >= end) return true;
    if (between[end] == '\r' && end + 1 < between.size() && between[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return false;
}

// Which metadata each task and group carries, by the attachment rule of lowering: a run of
// metadata lines attaches to the next task or group line unless a directive, a closing line or
// a blank line comes between (a comment line does not detach it). Per key, texts keep their order;
// keys are listed in a fixed order because the formatter sorts a run by key.
std::vector<std::string> attached_metadata(const std::string& text) {
  std::vector<std::string> out;
  const ParseResult parsed = parse(text);
  std::vector<SyntaxNode> pending;
  for (const SyntaxNode& item : parsed.document().items()) {
    if (item.kind() == SyntaxKind::Metadata) {
      pending.push_back(item);
      continue;
    }
    const std::optional<GroupLine> line = GroupLine::cast(item);
    const std::optional<Task> task = Task::cast(item);
    if ((line && !line->is_close()) || task) {
      if (!pending.empty()) {
        const uint32_t end = pending.back().text_range().end;
        if (has_blank_line(std::string_view(text).substr(end, item.text_range().start - end))) {
          pending.clear();
        }
      }
      std::string entry =
          task ? "task " + task->name().value_or("?") : "group " + line->name().value_or("?");
      for (const std::string_view key : {"help", "desc", "pass", "fail", "team"}) {
        for (const SyntaxNode& node : pending) {
          const Metadata metadata = *Metadata::cast(node);
          if (metadata.key() == key) {
            entry += " [" + std::string(key) + "] " + normalize_placeholders(*metadata.value());
          }
        }
      }
      out.push_back(entry);
    }
    pending.clear();
  }
  return out;
}

std::string apply(const std::string& text, const DeclarationEdit& edit) {
  return text.substr(0, edit.range.start) + edit.new_text + text.substr(edit.range.end);
}

// The output parses cleanly, formats to itself, and declares what the input declared. A
// formatter refusal is allowed only when `may_refuse` (headers the layout cannot carry).
void check_formatting(const std::string& input, uint32_t seed, bool may_refuse) {
  const std::optional<std::string> once = format_document(input);
  if (!once) {
    ASSERT_TRUE(may_refuse) << "seed " << seed << ":\n" << input;
    return;
  }
  const ParseResult reparsed = parse(*once);
  ASSERT_TRUE(reparsed.diagnostics.empty()) << "seed " << seed << ", input:\n"
                                            << input << "\noutput:\n"
                                            << *once << "\n"
                                            << dump_tree(reparsed.root, reparsed.diagnostics);
  const std::optional<std::string> twice = format_document(*once);
  ASSERT_TRUE(twice.has_value()) << "seed " << seed;
  ASSERT_EQ(*twice, *once) << "seed " << seed << ", input:\n" << input;
  ASSERT_EQ(task_declarations(*once), task_declarations(input)) << "seed " << seed << ":\n"
                                                                << input;
  ASSERT_EQ(attached_metadata(*once), attached_metadata(input)) << "seed " << seed << ":\n"
                                                                << input;
}

TEST(FormatterProperty, ValidDocumentsFormatStablyAndKeepTheirMeaning) {
  for (uint32_t seed = 0; seed < 600; ++seed) {
    Draw draw(seed);
    const std::string input = valid_document(draw, 1 + seed % 12);
    const ParseResult parsed = parse(input);
    ASSERT_TRUE(parsed.diagnostics.empty())
        << "generator wrote an invalid document, seed " << seed << ":\n"
        << input << "\n"
        << dump_tree(parsed.root, parsed.diagnostics);
    check_formatting(input, seed, /*may_refuse=*/false);
  }
}

// Random mixes of valid and broken fragments and junk characters reach corners the generator
// above never writes (lone carriage returns in comments, brackets in parameters); the ones
// that happen to parse cleanly must format as soundly.
TEST(FormatterProperty, CleanRandomDocumentsFormatStablyAndKeepTheirMeaning) {
  for (uint32_t seed = 0; seed < 20000; ++seed) {
    Draw draw(seed);
    const std::string input = testing_support::random_document(draw, 1 + seed % 6);
    if (!parse(input).diagnostics.empty()) continue;
    check_formatting(input, seed, /*may_refuse=*/true);
  }
}

TEST(FormatterProperty, DeclarationEditsKeepDocumentsValidAndCanonical) {
  for (uint32_t seed = 0; seed < 150; ++seed) {
    Draw draw(seed);
    const std::string input = valid_document(draw, 1 + seed % 8);
    const std::string canonical = format_document(input).value_or("");
    const ParseResult parsed = parse(input);
    for (const SyntaxNode& item : parsed.document().items()) {
      const uint32_t at = item.text_range().start;
      const std::optional<DeclarationEdit> edit = format_declaration(input, TextRange(at, at));
      ASSERT_TRUE(edit.has_value()) << "seed " << seed << " at " << at << ":\n" << input;
      const std::string edited = apply(input, *edit);
      const ParseResult reparsed = parse(edited);
      ASSERT_TRUE(reparsed.diagnostics.empty()) << "seed " << seed << " at " << at << ", edited:\n"
                                                << edited << "\n"
                                                << dump_tree(reparsed.root, reparsed.diagnostics);
      ASSERT_EQ(format_document(edited).value_or(""), canonical)
          << "seed " << seed << " at " << at << ", edited:\n"
          << edited;
    }
  }
}

}  // namespace
}  // namespace quib
