// Properties of `analyze` over generated documents: it never crashes, every range it reports or
// stores lies inside the document on character boundaries, and command texts match the
// document bytes they were copied from.
#include <gtest/gtest.h>

#include "semantic/analyze.h"
#include "semantic/checks.h"
#include "semantic/lower.h"
#include "support/fragments.h"
#include "support/valid_documents.h"
#include "syntax/parse.h"

namespace quib {
namespace {

bool on_boundary(std::string_view text, uint32_t offset) {
  return offset == text.size() || (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80;
}

void expect_range(std::string_view text, TextRange range, std::string_view what) {
  EXPECT_LE(range.end, text.size()) << what;
  if (range.end > text.size()) return;
  EXPECT_TRUE(on_boundary(text, range.start)) << what << " starts inside a character";
  EXPECT_TRUE(on_boundary(text, range.end)) << what << " ends inside a character";
}

void expect_model_ranges(std::string_view text, const SemanticModel& model) {
  for (const Diagnostic& d : model.diagnostics) expect_range(text, d.range, d.code);
  for (const DirectiveDecl& directive : model.directives) {
    expect_range(text, directive.range, "directive");
    if (const VariableDecl* variable = directive.variable()) {
      expect_range(text, variable->name_range, "variable name");
    }
  }
  for (const GroupDecl& group : model.groups) {
    expect_range(text, group.range, "group");
    if (group.close_range) expect_range(text, *group.close_range, "group close");
  }
  for (const TaskDecl& task : model.tasks) {
    expect_range(text, task.range, "task");
    expect_range(text, task.name_range, "task name");
    for (TextRange r : task.metadata.help_ranges) expect_range(text, r, "help value");
    for (const ParamDecl& p : task.parameters) expect_range(text, p.range, "parameter");
    for (const GuardDecl& g : task.guards) expect_range(text, g.range, "guard");
    for (const DependencyDecl& d : task.dependencies) {
      expect_range(text, d.range, "dependency");
      expect_range(text, d.name_range, "dependency name");
      for (const DependencyArgument& a : d.arguments) expect_range(text, a.range, "argument");
    }
    if (task.shell) expect_range(text, task.shell->range, "shell clause");
    for (const CommandLine& command : task.commands) {
      expect_range(text, command.range, "command");
      const CommandOffsetMap map(command);
      for (const Interpolation& reference : command.interpolations) {
        const TextRange mapped = map.to_document(reference.range);
        expect_range(text, mapped, "interpolation");
        EXPECT_LE(command.range.start, mapped.start);
        EXPECT_LE(mapped.end, command.range.end);
      }
      // The mapping must agree with the bytes the command text was copied from.
      for (uint32_t i = 0; i < command.text.size(); ++i) {
        if (command.is_block() && command.text[i] == '\n') continue;
        const uint32_t at = map.to_document(i);
        ASSERT_LT(at, text.size());
        ASSERT_EQ(text[at], command.text[i]) << "command text offset " << i;
      }
    }
  }
}

TEST(AnalyzeProperty, GeneratedDocumentsStayInBounds) {
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    testing_support::Draw draw(seed);
    const std::string text = testing_support::random_document(draw, 1 + draw.below(60));
    SCOPED_TRACE(testing::Message() << "seed " << seed << "\n" << text);
    const ParseResult parsed = parse(text);
    const SemanticModel model = analyze(parsed);
    ASSERT_GE(model.diagnostics.size(), parsed.diagnostics.size());
    for (size_t i = 0; i < parsed.diagnostics.size(); ++i) {
      EXPECT_EQ(model.diagnostics[i].code, parsed.diagnostics[i].code);
    }
    expect_model_ranges(text, model);
    if (HasFailure()) return;
  }
}

// Lowering `text` in two runs gives the model of one run, wherever the cut falls.
void expect_two_runs_match_one(const std::string& text) {
  const ParseResult parsed = parse(text);
  const SemanticModel whole = lower(parsed);
  for (uint32_t cut = 0; cut <= parsed.root.child_count(); ++cut) {
    ASSERT_TRUE(lower(parsed, cut) == whole) << "cut before child " << cut;
  }
}

// The second run's guessed starting state is either right or noticed and redone. Random
// documents have groups open across the cut, metadata before it, version directives after it
// and errors; valid ones have odd spacing, blocks and multi-line headers.
TEST(AnalyzeProperty, TwoRunLoweringMatchesOneRun) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    testing_support::Draw draw(seed);
    const std::string text = testing_support::random_document(draw, 1 + draw.below(30));
    SCOPED_TRACE(testing::Message() << "seed " << seed << "\n" << text);
    expect_two_runs_match_one(text);
    if (HasFatalFailure()) return;
  }
}

TEST(AnalyzeProperty, TwoRunLoweringOfValidDocumentsMatchesOneRun) {
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    testing_support::Draw draw(seed);
    const std::string text = testing_support::ValidDocumentBuilder(draw).build(20);
    SCOPED_TRACE(testing::Message() << "seed " << seed << "\n" << text);
    expect_two_runs_match_one(text);
    if (HasFatalFailure()) return;
  }
}

// The checks of an analysis read the task tables its lowering built; they find what checks with
// tables of their own find, also for a model whose passes run on two threads.
TEST(AnalyzeProperty, ChecksOnLoweringsTablesMatchFreshTables) {
  std::vector<std::string> texts;
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    testing_support::Draw draw(seed);
    texts.push_back(testing_support::random_document(draw, 1 + draw.below(40)));
  }
  std::string many_tasks = "t0:\n    echo\n";
  for (int i = 0; i < 3000; ++i) {
    const std::string n = std::to_string(i);
    many_tasks += "group g" + std::to_string(i % 7) + " {\n    t" + n + " & t" +
                  std::to_string(i / 2) + " & u" + n + ":\n        echo\n}\nt" +
                  std::to_string(i % 5) + ":\n    echo\n";
  }
  texts.push_back(many_tasks);
  for (const std::string& text : texts) {
    const ParseResult parsed = parse(text);
    SemanticModel lowered = lower(parsed);
    std::vector<Diagnostic> expected = lowered.diagnostics;
    for (Diagnostic& diagnostic : run_checks(lowered)) expected.push_back(std::move(diagnostic));
    ASSERT_EQ(analyze(parsed).diagnostics, expected) << text.substr(0, 300);
  }
}

// A document of 256 KiB or more finds its own cut, counting the task slots of both halves on two
// threads; the model is still that of one run, wherever the middle of the text falls.
TEST(AnalyzeProperty, LargeDocumentsFindTheirCut) {
  const auto whole_of = [](const ParseResult& parsed) {
    return lower(parsed, parsed.root.child_count());
  };
  std::vector<std::string> texts;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    testing_support::Draw draw(seed);
    std::string text;
    while (text.size() < 300 * 1024) {
      text += seed % 2 ? testing_support::random_document(draw, 1 + draw.below(30))
                       : testing_support::ValidDocumentBuilder(draw).build(20);
      text += '\n';
    }
    texts.push_back(std::move(text));
  }
  // Tasks of one size: the middle of the text is the first task of the second half of the
  // items. Small tasks, then large ones: the middle lies among the second half of the items.
  // One huge task first: the middle lies inside the first item.
  const auto task = [](int i, size_t body) {
    std::string name = std::to_string(10000 + i);
    return "t" + name + ":\n    echo " + std::string(body, 'x') + "\n";
  };
  std::string equal_tasks;
  std::string small_then_large;
  std::string huge_first = task(0, 200 * 1024);
  for (int i = 0; i < 2000; ++i) equal_tasks += task(i, 120);
  for (int i = 0; i < 6000; ++i) small_then_large += task(i, 1);
  for (int i = 6000; i < 6200; ++i) small_then_large += task(i, 1000);
  for (int i = 1; i < 5000; ++i) huge_first += task(i, 1);
  texts.insert(texts.end(), {equal_tasks, small_then_large, huge_first});
  for (const std::string& text : texts) {
    const ParseResult parsed = parse(text);
    ASSERT_TRUE(lower(parsed) == whole_of(parsed)) << text.substr(0, 200);
  }
}

}  // namespace
}  // namespace quib
