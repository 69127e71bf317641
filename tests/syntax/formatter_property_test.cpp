// Formatter guarantees over generated valid documents: the output parses cleanly, formatting
// it again changes nothing, every task declares the same things and keeps its commands and its
// metadata, and a declaration edit leaves a document that still parses and formats to the same
// canonical text.
#include <gtest/gtest.h>

#include <algorithm>

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

// Every metadata line of the text, as "[key] value" with placeholders normalised, sorted.
// Which item a line attaches to is left out on purpose: metadata sticks to what follows it
// after formatting, even where a blank line detached it before.
std::vector<std::string> metadata_lines(const std::string& text) {
  std::vector<std::string> out;
  for (const SyntaxNode& item : parse(text).document().items()) {
    if (const std::optional<Metadata> metadata = Metadata::cast(item)) {
      out.push_back("[" + metadata->key().value_or("?") + "] " +
                    normalize_placeholders(metadata->value().value_or("")));
    }
  }
  std::sort(out.begin(), out.end());
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
  ASSERT_EQ(metadata_lines(*once), metadata_lines(input)) << "seed " << seed << ":\n" << input;
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

// The whole-document layout and the single-declaration layout read the tree each in their own
// walk; on a canonical document every declaration edit must give back exactly the text it
// replaces, so the two walks agree on every item's offsets and layout.
TEST(FormatterProperty, DeclarationEditsOfCanonicalDocumentsChangeNothing) {
  for (uint32_t seed = 0; seed < 150; ++seed) {
    Draw draw(seed);
    const std::string canonical = format_document(valid_document(draw, 1 + seed % 10)).value_or("");
    const ParseResult parsed = parse(canonical);
    for (const SyntaxNode& item : parsed.document().items()) {
      const uint32_t at = item.text_range().start;
      const std::optional<DeclarationEdit> edit =
          format_declaration(canonical, parsed, TextRange(at, at));
      ASSERT_TRUE(edit.has_value()) << "seed " << seed << " at " << at << ":\n" << canonical;
      EXPECT_EQ(edit->new_text, canonical.substr(edit->range.start, edit->range.len()))
          << "seed " << seed << " at " << at << ":\n"
          << canonical;
    }
  }
}

// A large document is laid out in two parts, the second recorded and played after the first:
// wherever the cut falls (inside a run of metadata lines, a group, between a comment and its
// item, after a byte order mark), the text is that of one part, and so is a refusal.
TEST(FormatterProperty, TwoPartLayoutEqualsOnePart) {
  for (uint32_t seed = 0; seed < 400; ++seed) {
    Draw draw(seed);
    std::string input = seed % 2 == 0 ? valid_document(draw, 1 + seed % 8)
                                      : testing_support::random_document(draw, 1 + seed % 6);
    if (seed % 7 == 0) input.insert(0, "\xEF\xBB\xBF");
    const ParseResult parsed = parse(input);
    if (!parsed.diagnostics.empty()) continue;
    const uint32_t children = parsed.root.child_count();
    const std::optional<std::string> whole = format_document(input, parsed, children);
    for (uint32_t cut = 0; cut < children; ++cut) {
      ASSERT_EQ(format_document(input, parsed, cut), whole)
          << "seed " << seed << " cut " << cut << ":\n"
          << input;
    }
  }
}

}  // namespace
}  // namespace quib
