// Formatting never changes what a file means: the model of the formatted text declares the
// same directives, groups, tasks, parameters, guards, dependencies, shells and commands as the
// model of the original. Metadata is left out: sticking metadata to the item below it is the
// layout's intent, even where a blank line had detached it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "semantic/analyze.h"
#include "support/valid_documents.h"
#include "syntax/format_item.h"
#include "syntax/formatter.h"
#include "syntax/parse.h"

namespace quib {
namespace {

using testing_support::Draw;

// One line per declaration, with every part that carries meaning.
std::vector<std::string> meaning(const std::string& text) {
  const SemanticModel model = analyze(parse(text));
  std::vector<std::string> out;
  for (const DirectiveDecl& directive : model.directives) {
    if (const LanguageVersion* version = directive.version()) {
      out.push_back("version " + std::to_string(version->major) + "." +
                    std::to_string(version->minor));
    } else if (const ShellDirective* shell = directive.shell()) {
      out.push_back("shell " + shell->word);
    } else if (const VariableDecl* variable = directive.variable()) {
      out.push_back("var " + variable->name + "=" + variable->value);
    }
  }
  for (const GroupDecl& group : model.groups) out.push_back("group " + group.name);
  for (const TaskDecl& task : model.tasks) {
    std::string line = "task " + task.qualified_name();
    for (const ParamDecl& p : task.parameters) {
      line += " param:" + p.name + (p.variadic ? ".." : "") + "=" + p.default_value.value_or("-");
    }
    for (const GuardDecl& g : task.guards) {
      line += " guard:" + std::string(name(g.kind)) + "(" + g.argument + ")";
    }
    for (const DependencyDecl& d : task.dependencies) line += " dep:" + d.name;
    if (task.shell) {
      line +=
          " shell:" + std::string(name(task.shell->mode)) + std::string(name(task.shell->shell));
    }
    for (const CommandLine& command : task.commands) {
      line += " cmd:[" + normalize_placeholders(command.text) + "]";
    }
    out.push_back(line);
  }
  return out;
}

TEST(FormatMeaning, FormattedDocumentsDeclareTheSameThings) {
  int formatted = 0;
  for (uint32_t seed = 0; seed < 400; ++seed) {
    Draw draw(seed);
    const std::string input = testing_support::valid_document(draw, 1 + seed % 10);
    const std::optional<std::string> output = format_document(input);
    if (!output) continue;  // headers the layout cannot carry are refused, never rewritten
    ++formatted;
    ASSERT_EQ(meaning(*output), meaning(input)) << "seed " << seed << ":\n" << input;
  }
  EXPECT_GT(formatted, 300);
}

}  // namespace
}  // namespace quib
