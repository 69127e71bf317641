// The shape of the lowered model: directive values, attachment and inheritance of metadata,
// groups and qualification, signatures, and command offsets mapped back to the document.
#include <gtest/gtest.h>

#include "fixture.h"
#include "semantic/analyze.h"
#include "syntax/parse.h"

namespace quib {
namespace {

SemanticModel analyze_text(std::string_view text) {
  return analyze(parse(text));
}

TEST(Model, DirectivesKeepTheirValues) {
  const testing_support::Fixture f = testing_support::parse_fixture(
      "!version 0.12\n!var [[-x]] = \"a \\\"b\"\n!shell pwsh\n!var e=\"\"\n");
  const SemanticModel model = analyze_text(f.text);
  ASSERT_EQ(model.directives.size(), 4u);
  ASSERT_NE(model.directives[0].version(), nullptr);
  EXPECT_EQ(model.directives[0].version()->major, 0u);
  EXPECT_EQ(model.directives[0].version()->minor, 12u);
  const VariableDecl* variable = model.directives[1].variable();
  ASSERT_NE(variable, nullptr);
  EXPECT_EQ(variable->name, "-x");
  EXPECT_EQ(variable->value, "a \\\"b");  // backslashes are not interpreted
  EXPECT_EQ(variable->name_range, f.ranges[0]);
  ASSERT_NE(model.directives[2].shell(), nullptr);
  EXPECT_EQ(model.directives[2].shell()->word, "pwsh");
  EXPECT_EQ(model.directives[3].variable()->value, "");
}

TEST(Model, FailedDirectivesAreNotRecordedButLateVariablesAre) {
  const SemanticModel model =
      analyze_text("!version 0.0\n!var 1 = \"x\"\nt:\n    echo\n!var late = \"v\"\n");
  ASSERT_EQ(model.directives.size(), 1u);
  EXPECT_EQ(model.directives[0].variable()->name, "late");
}

// Only the gap after the last pending line decides; a blank line among the metadata lines
// themselves does not split the list.
TEST(Model, MetadataAttachesOnlyWithoutBlankLineBeforeTheItem) {
  const testing_support::Fixture f = testing_support::parse_fixture(
      "[help] gone\n\nu:\n    echo\n[help] [[one]]\n\n[help] [[two]]\n# note\n[desc] d\nt:\n"
      "    echo\n");
  const SemanticModel model = analyze_text(f.text);
  ASSERT_EQ(model.tasks.size(), 2u);
  EXPECT_FALSE(model.tasks[0].metadata.help.has_value());
  const MetadataBlock& block = model.tasks[1].metadata;
  EXPECT_EQ(block.help, "one\ntwo");
  EXPECT_EQ(block.help_count(), 2u);
  EXPECT_EQ(std::vector<TextRange>(block.help_ranges.begin(), block.help_ranges.end()),
            (std::vector<TextRange>{f.ranges[0], f.ranges[1]}));
  EXPECT_EQ(block.desc, "d");
  EXPECT_FALSE(block.pass.has_value());
  EXPECT_EQ(model.tasks[1].summary, "one\ntwo");
}

// Each field joins its own lines, whatever lines of other fields stand between them, and the
// next block starts from nothing; a block of a thousand lines joins all of them.
TEST(Model, MetadataFieldsJoinTheirOwnLinesBlockByBlock) {
  std::string many_lines;
  std::string many_joined;
  for (int i = 0; i < 1000; ++i) {
    many_lines += "[desc] line " + std::to_string(i) + "\n";
    many_joined += (i == 0 ? "" : "\n") + ("line " + std::to_string(i));
  }
  const SemanticModel model = analyze_text(
      "[help] h1\n[desc] d1\n[help] h2\n[pass] p1\n[help] h3\nt:\n    echo\n"
      "[fail] f1\n[fail] f2\nu:\n    echo\n" +
      many_lines + "v:\n    echo\n");
  ASSERT_EQ(model.tasks.size(), 3u);
  const MetadataBlock& t = model.tasks[0].metadata;
  EXPECT_EQ(t.help, "h1\nh2\nh3");
  EXPECT_EQ(t.desc, "d1");
  EXPECT_EQ(t.pass, "p1");
  EXPECT_FALSE(t.fail.has_value());
  const MetadataBlock& u = model.tasks[1].metadata;
  EXPECT_FALSE(u.help.has_value());
  EXPECT_FALSE(u.desc.has_value());
  EXPECT_FALSE(u.pass.has_value());
  EXPECT_EQ(u.fail, "f1\nf2");
  const MetadataBlock& v = model.tasks[2].metadata;
  EXPECT_EQ(v.desc, many_joined);
  EXPECT_FALSE(v.help.has_value());
  EXPECT_FALSE(v.fail.has_value());
}

// The indentation in front of an item is part of the item's line, not a blank line: inside a
// group, metadata above a comment line still reaches the indented task below it.
TEST(Model, MetadataReachesAnIndentedItemPastACommentLine) {
  const SemanticModel model = analyze_text(
      "group ci {\n    [help] Lint it\n    # note\n    lint():\n        ruff\n"
      "    [help] gone\n    # note\n\n    test():\n        pytest\n}\n");
  ASSERT_EQ(model.tasks.size(), 2u);
  EXPECT_EQ(model.tasks[0].metadata.help, "Lint it");
  EXPECT_FALSE(model.tasks[1].metadata.help.has_value());
}

TEST(Model, LaterDefinitionsInheritMissingTexts) {
  const SemanticModel model = analyze_text(
      "[help] first\n[desc] details\nt(a):\n    echo\n[help] second\nt(b):\n    echo\nu:\n    "
      "echo\n");
  ASSERT_EQ(model.tasks.size(), 3u);
  EXPECT_EQ(model.tasks[1].metadata.help, "second");
  EXPECT_EQ(model.tasks[1].metadata.desc, "details");
  EXPECT_EQ(model.tasks[1].summary, "second");
  EXPECT_EQ(model.tasks[1].metadata.help_count(), 1u);
  EXPECT_FALSE(model.tasks[2].metadata.desc.has_value());
}

TEST(Model, GroupsQualifyTasksAndSiblingDependencies) {
  const testing_support::Fixture f = testing_support::parse_fixture(
      "[help] CI\n[[group ci {\n]]    test():\n        echo\n    build() & test & lint & "
      "other.x:\n        echo\n[[}\n]]lint & test:\n    echo\n");
  const SemanticModel model = analyze_text(f.text);
  ASSERT_EQ(model.groups.size(), 1u);
  const GroupDecl& group = model.groups[0];
  EXPECT_EQ(group.name, "ci");
  EXPECT_EQ(group.summary, "CI");
  EXPECT_EQ(group.range, f.ranges[0]);
  EXPECT_EQ(group.close_range, f.ranges[1]);

  ASSERT_EQ(model.tasks.size(), 3u);
  EXPECT_EQ(model.tasks[1].qualified_name(), "ci.build");
  std::vector<std::string> names;
  for (const DependencyDecl& d : model.tasks[1].dependencies) names.push_back(d.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ci.test", "lint", "other.x"}));
  // A top-level task never resolves into a group.
  EXPECT_EQ(model.tasks[2].group, std::nullopt);
  EXPECT_EQ(model.tasks[2].dependencies[0].name, "test");

  ASSERT_EQ(model.task_symbols.size(), 3u);
  EXPECT_EQ(model.task_symbols[0].name, "ci.test");
  EXPECT_EQ(model.task_symbols[2].name, "lint");
  ASSERT_EQ(model.group_symbols.size(), 1u);
  EXPECT_EQ(model.group_symbols[0].range, f.ranges[0]);
}

TEST(Model, ReopenedGroupClosesTheLastOne) {
  const SemanticModel model = analyze_text("group a {\ngroup b {\n}\n");
  ASSERT_EQ(model.groups.size(), 2u);
  EXPECT_FALSE(model.groups[0].close_range.has_value());
  EXPECT_TRUE(model.groups[1].close_range.has_value());
}

struct SignatureCase {
  std::string_view header;
  std::string_view signature;
};

class TaskSignature : public testing::TestWithParam<SignatureCase> {};

TEST_P(TaskSignature, RendersParameters) {
  const SemanticModel model = analyze_text(std::string(GetParam().header) + "\n    echo\n");
  ASSERT_EQ(model.tasks.size(), 1u);
  EXPECT_EQ(model.tasks[0].task_signature(), GetParam().signature);
}

INSTANTIATE_TEST_SUITE_P(
    Model, TaskSignature,
    testing::Values(SignatureCase{"build:", "build()"}, SignatureCase{"build():", "build()"},
                    SignatureCase{"d(t, shell=\"bash\", rest..):", "d(t, shell=\"bash\", rest..)"},
                    SignatureCase{"d(rest..=\"a\\\"\"):", "d(rest..=\"a\\\"\")"}));

TEST(Model, HeaderPartsAreLowered) {
  const testing_support::Fixture f = testing_support::parse_fixture(
      "d(a) [[? @os(\"linux\")]] ? @gpu(\"x\") & (l, m(\"1\")) & n [[shell~=pwsh]]:\n    echo\n");
  const SemanticModel model = analyze_text(f.text);
  ASSERT_EQ(model.tasks.size(), 1u);
  const TaskDecl& task = model.tasks[0];
  ASSERT_EQ(task.guards.size(), 2u);
  EXPECT_TRUE(task.guards[0].kind == GuardKind::Os);
  EXPECT_EQ(task.guards[0].range, f.ranges[0]);
  EXPECT_TRUE(task.guards[1].kind.is_other());
  EXPECT_EQ(task.guards[1].kind.word(), "gpu");
  ASSERT_EQ(task.dependencies.size(), 3u);
  EXPECT_EQ(task.dependencies[1].clause_index, 0u);
  EXPECT_EQ(task.dependencies[2].clause_index, 1u);
  ASSERT_EQ(task.dependencies[1].arguments.size(), 1u);
  EXPECT_EQ(task.dependencies[1].arguments[0].text, "1");
  ASSERT_TRUE(task.shell.has_value());
  EXPECT_TRUE(task.shell->shell == ShellKind::Pwsh);
  EXPECT_EQ(task.shell->mode, ShellMode::Preferred);
  EXPECT_EQ(task.shell->range, f.ranges[1]);
}

// Every content byte of a block's joined text maps to the same byte on its source line, and
// interpolation ranges are kept relative to the text.
TEST(CommandOffsetMap, BlockOffsetsLandOnTheirSourceLine) {
  const std::string text =
      "t:\n    | a {{ x }}\n    |\n  |\t\xE2\x86\x93 {{y}}\r\n    echo {{ z }}\n";
  const SemanticModel model = analyze_text(text);
  ASSERT_EQ(model.tasks.size(), 1u);
  const RecordList<CommandLine>& commands = model.tasks[0].commands;
  ASSERT_EQ(commands.size(), 2u);
  const CommandLine& block = commands[0];
  ASSERT_TRUE(block.is_block());
  EXPECT_EQ(block.text, "a {{ x }}\n\n\xE2\x86\x93 {{y}}\n");
  ASSERT_EQ(block.interpolations.size(), 2u);
  EXPECT_EQ(block.interpolations[1].range, TextRange(15, 20));

  const CommandOffsetMap map(block);
  for (uint32_t i = 0; i < block.text.size(); ++i) {
    if (block.text[i] == '\n') continue;
    EXPECT_EQ(text[map.to_document(i)], block.text[i]) << "offset " << i;
  }
  const TextRange y = map.to_document(block.interpolations[1].range);
  EXPECT_EQ(text.substr(y.start, y.len()), "{{y}}");

  const CommandLine& single = commands[1];
  const TextRange z = CommandOffsetMap(single).to_document(single.interpolations[0].range);
  EXPECT_EQ(text.substr(z.start, z.len()), "{{ z }}");
}

// A task list lent by an earlier model is kept when it holds enough records; a shorter one is
// replaced by a list of exactly the tasks needed, never grown to twice its size.
TEST(Model, LentTaskListsAreReusedOrReplacedExactly) {
  const std::string text = "a:\n    x\nb:\n    x\nc:\n    x\nd:\n    x\ne:\n    x\n";
  const SemanticModel fresh = analyze_text(text);
  ASSERT_EQ(fresh.tasks.size(), 5u);
  struct Case {
    size_t lent;
    size_t capacity;
  };
  for (const Case c : {Case{0, 5}, Case{3, 5}, Case{5, 5}, Case{8, 8}}) {
    const SemanticModel model =
        analyze(parse(text), ModelStorage{std::vector<TaskDecl>(c.lent), {}});
    EXPECT_EQ(model, fresh) << c.lent;
    EXPECT_EQ(model.tasks.capacity(), c.capacity) << c.lent;
  }
}

// The pools of an emptied model hold the next model's records whatever either document holds:
// the model built in them equals a fresh one, and uses exactly the pools lent.
TEST(Model, LentPoolsHoldTheNextModelsRecords) {
  const std::string long_help(70 * 1024, 'h');
  const std::string documents[] = {
      "a(x, y=\"1\"):\n    echo {{ x }}\n    | one\n    | two {{ y }}\n",
      "[help] first\n[help] second\n[desc] d\n[odd] o\nb ? @os(\"linux\") & a(\"v\"):\n    run\n",
      "group g {\n[help] " + long_help + "\n[help] more\n    t:\n        | x\n        | y\n}\n",
      "plain:\n    echo\n",
  };
  for (const std::string& first : documents) {
    for (const std::string& second : documents) {
      SemanticModel retired = analyze_text(first);
      ModelStorage storage = empty_model(retired);
      ASSERT_FALSE(storage.pools.empty());
      const std::vector<std::shared_ptr<RecordPools>> lent = storage.pools;
      const SemanticModel model = analyze(parse(second), std::move(storage));
      EXPECT_EQ(model, analyze_text(second)) << first << " then " << second;
      EXPECT_EQ(model.record_pools.pools, lent);
    }
  }
}

// Emptying a model whose copy is alive leaves that copy its pools, so its lists and texts stay
// valid.
TEST(Model, EmptyingKeepsThePoolsACopyStillUses) {
  const std::string text = "[help] a\n[help] b\nt:\n    | x\n    | y\n    echo {{ z }}\n";
  SemanticModel model = analyze_text(text);
  const SemanticModel copy = model;
  const ModelStorage storage = empty_model(model);
  EXPECT_TRUE(storage.pools.empty());
  EXPECT_EQ(copy, analyze_text(text));
  ASSERT_EQ(copy.tasks.size(), 1u);
  EXPECT_EQ(copy.tasks[0].commands[0].text, "x\ny\n");
  EXPECT_EQ(copy.tasks[0].summary, "a\nb");
}

// Stored texts keep their bytes while more is stored, across chunk ends, for texts longer than
// a chunk, and after a clear that reuses the chunks.
TEST(TextArena, StoredTextsStayIntact) {
  TextArena arena;
  for (int round = 0; round < 2; ++round) {
    std::vector<std::pair<std::string, std::string_view>> stored;
    for (size_t size : {0u, 1u, 100u, 40000u, 40000u, 70000u, 65536u, 3u, 65535u}) {
      std::string text(size, static_cast<char>('a' + stored.size()));
      stored.emplace_back(text, arena.store(text));
    }
    for (const auto& [text, view] : stored) EXPECT_EQ(view, text) << round;
    arena.clear();
  }
}

}  // namespace
}  // namespace quib
