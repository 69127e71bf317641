// Tests of the typed view over parsed snippets: each table states an input and what the
// accessors must read from it. Ranges are checked as the document text they cover, so a case
// reads like the line it is about. Half-formed nodes that the parser never makes are built
// directly with the green builder.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/ast_view.h"
#include "syntax/parse.h"

namespace quib {
namespace {

using K = SyntaxKind;
using Strings = std::vector<std::string>;

// The first node of `kind` in the tree, if any.
std::optional<SyntaxNode> find(const SyntaxNode& root, K kind) {
  for (const SyntaxNode& node : root.descendants()) {
    if (node.kind() == kind) return node;
  }
  return std::nullopt;
}

template <typename Wrapper>
std::optional<Wrapper> first(const ParseResult& parsed, K kind) {
  auto node = find(parsed.root, kind);
  if (!node) return std::nullopt;
  return Wrapper::cast(*node);
}

std::string slice(std::string_view text, TextRange range) {
  return std::string(text.substr(range.start, range.len()));
}
std::optional<std::string> slice(std::string_view text, std::optional<TextRange> range) {
  if (!range) return std::nullopt;
  return slice(text, *range);
}

// ---- Directive ----

struct DirectiveCase {
  const char* input;
  std::optional<std::string> name;
  std::optional<std::string> value_text;
  std::optional<std::string> arguments;
  std::optional<std::string> variable_name;  // the text at variable_name_range()
};

TEST(AstViewDirective, Accessors) {
  const DirectiveCase cases[] = {
      {"!version 0.1\n", "version", "0.1", "0 . 1", "0.1"},
      {"!var name = \"v\"\n", "var", "name = \"v\"", "name = \"v\"", "name"},
      {"!var name=\"a b\"", "var", "name=\"a b\"", "name = \"a b\"", "name"},
      // The name `shell` is a ShellKeyword token, so the value text keeps it.
      {"!shell  bash\n", "shell", "shell  bash", "bash", "bash"},
      {"! version  0.1 \t\r\n", "version", "0.1", "0 . 1", "0.1"},
      {"!var = \"x\"\n", "var", "= \"x\"", "= \"x\"", std::nullopt},
      {"!x\n", "x", std::nullopt, std::nullopt, std::nullopt},
      {"!var \xC2\xA5name = \"\xF0\x9F\x98\x82\"\n", "var", "\xC2\xA5name = \"\xF0\x9F\x98\x82\"",
       "\xC2\xA5 name = \"\xF0\x9F\x98\x82\"", "\xC2\xA5name"},
      // A name that is not a Word is not skipped by the value text.
      {"!\"v\" x\n", "\"v\"", "\"v\" x", "x", "x"},
      {"!!!\n", "!", "!!", "!", "!"},
  };
  for (const DirectiveCase& c : cases) {
    SCOPED_TRACE(c.input);
    const ParseResult parsed = parse(c.input);
    auto directive = first<Directive>(parsed, K::Directive);
    ASSERT_TRUE(directive.has_value());
    EXPECT_EQ(directive->name(), c.name);
    EXPECT_EQ(slice(c.input, directive->name_range()), c.name);
    EXPECT_EQ(directive->value_text(), c.value_text);
    EXPECT_EQ(directive->arguments(), c.arguments);
    EXPECT_EQ(slice(c.input, directive->variable_name_range()), c.variable_name);
  }
}

// The accessors read past the name to the end of a line of any length.
TEST(AstViewDirective, LongLineAccessorsReadEveryToken) {
  std::string words;
  for (int i = 0; i < 5000; ++i) words += i == 0 ? "w0" : " w" + std::to_string(i);
  const std::string input = "!var " + words + " = \"v\"\n";
  const ParseResult parsed = parse(input);
  auto directive = first<Directive>(parsed, K::Directive);
  ASSERT_TRUE(directive.has_value());
  EXPECT_EQ(directive->kind(), DirectiveKind::Var);
  EXPECT_EQ(directive->value_text(), words + " = \"v\"");
  EXPECT_EQ(directive->arguments(), words + " = \"v\"");
  EXPECT_EQ(slice(input, directive->variable_name_range()), words);
}

TEST(AstViewDirective, KindMapsTheNameExactly) {
  const std::pair<const char*, DirectiveKind> cases[] = {
      {"!version 0.1", DirectiveKind::Version},
      {"!var a = \"b\"", DirectiveKind::Var},
      {"!shell bash", DirectiveKind::Shell},
      {"!Version 0.1", DirectiveKind::from_word("Version")},
      {"!vars x", DirectiveKind::from_word("vars")},
  };
  for (const auto& [input, kind] : cases) {
    SCOPED_TRACE(input);
    auto directive = first<Directive>(parse(input), K::Directive);
    ASSERT_TRUE(directive.has_value());
    EXPECT_EQ(directive->kind(), kind);
  }
  EXPECT_EQ(name(DirectiveKind::from_word("Version")), "Version");
  EXPECT_TRUE(DirectiveKind::from_word("Version").is_other());
}

// ---- Metadata ----

struct MetadataCase {
  const char* input;
  std::optional<MetadataField> field;
  std::optional<std::string> value;
  std::optional<std::string> key_text;    // at key_range()
  std::optional<std::string> value_text;  // at value_range()
};

TEST(AstViewMetadata, Accessors) {
  const MetadataCase cases[] = {
      {"[help] Build the project  \n", MetadataField::Help, "Build the project", "[help]",
       "Build the project"},
      {"[x_y-1] v\r\n", MetadataField::from_word("x_y-1"), "v", "[x_y-1]", "v"},
      {"[desc]\t{{ name }} \xE2\x86\x93 ok", MetadataField::Desc, "{{ name }} \xE2\x86\x93 ok",
       "[desc]", "{{ name }} \xE2\x86\x93 ok"},
      {"[pass] a ] b", MetadataField::Pass, "a ] b", "[pass]", "a ] b"},
      {"[Fail] x", MetadataField::from_word("Fail"), "x", "[Fail]", "x"},
      // A value of Unicode space only: present but empty, placed just after the `]`.
      {"[help] \xC2\xA0\n", MetadataField::Help, "", "[help]", ""},
  };
  for (const MetadataCase& c : cases) {
    SCOPED_TRACE(c.input);
    auto metadata = first<Metadata>(parse(c.input), K::Metadata);
    ASSERT_TRUE(metadata.has_value());
    EXPECT_EQ(metadata->field(), c.field);
    EXPECT_EQ(metadata->value(), c.value);
    EXPECT_EQ(slice(c.input, metadata->key_range()), c.key_text);
    EXPECT_EQ(slice(c.input, metadata->value_range()), c.value_text);
  }
  auto empty = first<Metadata>(parse("[help] \xC2\xA0\n"), K::Metadata);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->value_range(), TextRange(6, 6));
}

TEST(AstViewMetadata, SpacedKeyIsNoMetadata) {
  EXPECT_FALSE(find(parse("[he lp] v\n").root, K::Metadata).has_value());
}

// ---- GroupLine ----

TEST(AstViewGroupLine, OpenAndClose) {
  struct Case {
    const char* input;
    bool is_close;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"}   \n", true, std::nullopt},
      {"}", true, std::nullopt},
      {"group tools {\n", false, "tools"},
      {"group ci-2{", false, "ci-2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    auto line = first<GroupLine>(parse(c.input), K::GroupLine);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->is_close(), c.is_close);
    EXPECT_EQ(line->name(), c.name);
    EXPECT_EQ(slice(c.input, line->name_range()), c.name);
  }
}

// ---- Task header ----

Task only_task(const ParseResult& parsed) {
  EXPECT_TRUE(parsed.diagnostics.empty());
  auto task = first<Task>(parsed, K::Task);
  EXPECT_TRUE(task.has_value());
  return *task;
}

TEST(AstViewTask, NameAndBodyMarker) {
  const std::string input = "deploy(a) & b:\n  x\n";
  const ParseResult parsed = parse(input);
  const Task task = only_task(parsed);
  EXPECT_EQ(task.name(), "deploy");
  EXPECT_EQ(slice(input, task.name_range()), "deploy");
  const TaskHeaderView view = task.header_view();
  EXPECT_EQ(view.name, "deploy");
  EXPECT_EQ(slice(input, view.name_range), "deploy");
  EXPECT_EQ(view.body_marker_range, TextRange(13, 14));
  EXPECT_EQ(task.header()->body_marker_range(), TextRange(13, 14));

  const Task bodyless = only_task(parse("all & build & test\n"));
  EXPECT_EQ(bodyless.header_view().body_marker_range, std::nullopt);
  EXPECT_TRUE(bodyless.body_lines().empty());
}

struct ParamExpect {
  std::string name;
  std::optional<std::string> default_value;
  bool is_slice;
};

TEST(AstViewTask, Parameters) {
  struct Case {
    const char* input;
    std::vector<ParamExpect> params;
  };
  const Case cases[] = {
      {"deploy(target, shell=\"bash\", rest..):",
       {{"target", std::nullopt, false}, {"shell", "bash", false}, {"rest", std::nullopt, true}}},
      {"f(rest.. = \"x\", a = \"b=c\", c = \"\"):",
       {{"rest", "x", true}, {"a", "b=c", false}, {"c", "", false}}},
      // Backslashes are kept as written.
      {"f(p=\"a\\\"b\"):", {{"p", "a\\\"b", false}}},
      {"f(r ..):", {{"r", std::nullopt, true}}},
      {"f(a.b):", {{"a", std::nullopt, false}}},
      {"f():", {}},
      {"f:", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const ParseResult parsed = parse(c.input);
    const Task task = only_task(parsed);
    const TaskHeaderView view = task.header_view();
    ASSERT_EQ(view.parameters.size(), c.params.size());
    for (size_t i = 0; i < c.params.size(); ++i) {
      const ParameterView& p = view.parameters[i];
      EXPECT_EQ(p.name, c.params[i].name);
      EXPECT_EQ(slice(c.input, p.name_range), c.params[i].name);
      EXPECT_EQ(p.default_value, c.params[i].default_value);
      EXPECT_EQ(p.is_slice, c.params[i].is_slice);
    }
    // The list accessor agrees with the one-walk view.
    const auto list = task.header()->parameter_list();
    EXPECT_EQ(list.has_value(), std::string_view(c.input).find('(') != std::string_view::npos);
    if (list) {
      EXPECT_EQ(list->views().size(), c.params.size());
    }
  }
}

TEST(AstViewTask, Guards) {
  struct GuardExpect {
    GuardKind kind;
    std::string argument;
    std::string range;
    std::string head;
  };
  struct Case {
    const char* input;
    std::vector<GuardExpect> guards;
    size_t guard_nodes;
  };
  const Case cases[] = {
      {"b ? @os(\"linux\") ? @has(\"bash\"):",
       {{GuardKind::Os, "linux", "? @os(\"linux\")", "@os"},
        {GuardKind::Has, "bash", "? @has(\"bash\")", "@has"}},
       2},
      {"b ?@arch( \"x86\" ) & c:", {{GuardKind::Arch, "x86", "?@arch( \"x86\" )", "@arch"}}, 1},
      {"b ? @env(\"\"):", {{GuardKind::Env, "", "? @env(\"\")", "@env"}}, 1},
      {"b ? @Os(\"x\"):", {{GuardKind::from_word("Os"), "x", "? @Os(\"x\")", "@Os"}}, 1},
      // No argument, or no name: the guard node exists but gives no view.
      {"b ? @os:", {}, 1},
      {"b ? @os():", {}, 1},
      {"b ? @(\"x\"):", {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const Task task = only_task(parse(c.input));
    EXPECT_EQ(task.header()->guards().size(), c.guard_nodes);
    const TaskHeaderView view = task.header_view();
    ASSERT_EQ(view.guards.size(), c.guards.size());
    for (size_t i = 0; i < c.guards.size(); ++i) {
      const GuardView& g = view.guards[i];
      EXPECT_EQ(g.kind, c.guards[i].kind);
      EXPECT_EQ(g.name, name(c.guards[i].kind));
      EXPECT_EQ(g.argument, c.guards[i].argument);
      EXPECT_EQ(slice(c.input, g.range), c.guards[i].range);
      EXPECT_EQ(slice(c.input, g.head_range), c.guards[i].head);
      EXPECT_EQ(slice(c.input, g.argument_range), "\"" + c.guards[i].argument + "\"");
    }
  }
}

TEST(AstViewTask, Dependencies) {
  struct DepExpect {
    std::string name;
    std::string range;
    Strings arguments;
    uint32_t clause_index;
  };
  struct Case {
    const char* input;
    std::vector<DepExpect> deps;
    std::optional<std::string> summary;
  };
  const Case cases[] = {
      {"a & (lint, test) & deploy(\"linux\"):",
       {{"lint", "lint", {}, 0},
        {"test", "test", {}, 0},
        {"deploy", "deploy(\"linux\")", {"linux"}, 1}},
       "(lint, test) & deploy(\"linux\")"},
      {"a & ci.build\n", {{"ci.build", "ci.build", {}, 0}}, "ci.build"},
      {"a & d(\"x\", \"y\") & e:",
       {{"d", "d(\"x\", \"y\")", {"x", "y"}, 0}, {"e", "e", {}, 1}},
       "d(\"x\", \"y\") & e"},
      {"a & ( b(\"1\") , c ):",
       {{"b", "b(\"1\")", {"1"}, 0}, {"c", "c", {}, 0}},
       "( b(\"1\") , c )"},
      {"a:", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const Task task = only_task(parse(c.input));
    const TaskHeaderView view = task.header_view();
    EXPECT_EQ(view.dependency_summary, c.summary);
    ASSERT_EQ(view.dependencies.size(), c.deps.size());
    for (size_t i = 0; i < c.deps.size(); ++i) {
      const DependencyView& d = view.dependencies[i];
      EXPECT_EQ(d.name, c.deps[i].name);
      EXPECT_EQ(slice(c.input, d.name_range), c.deps[i].name);
      EXPECT_EQ(slice(c.input, d.range), c.deps[i].range);
      EXPECT_EQ(d.clause_index, c.deps[i].clause_index);
      ASSERT_EQ(d.arguments.size(), c.deps[i].arguments.size());
      for (size_t j = 0; j < d.arguments.size(); ++j) {
        EXPECT_EQ(d.arguments[j].text, c.deps[i].arguments[j]);
        EXPECT_EQ(slice(c.input, d.arguments[j].range), "\"" + c.deps[i].arguments[j] + "\"");
      }
    }
  }
}

TEST(AstViewTask, ShellOverride) {
  struct Case {
    const char* input;
    std::optional<ShellMode> mode;
    std::optional<ShellKind> shell;
    std::string range;
  };
  const Case cases[] = {
      {"b shell~=pwsh:", ShellMode::Preferred, ShellKind::Pwsh, "shell~=pwsh"},
      {"b shell=zsh:", ShellMode::Required, ShellKind::from_word("zsh"), "shell=zsh"},
      {"b & c shell = bash :", ShellMode::Required, ShellKind::Bash, "shell = bash"},
      // Only the first clause counts.
      {"b shell=bash shell~=sh:", ShellMode::Required, ShellKind::Bash, "shell=bash"},
      // The shell must be a Word.
      {"b shell=\"bash\":", std::nullopt, std::nullopt, ""},
      // The last Word names the shell; the range runs from the keyword to the last token.
      {"b shell = sh bash ( :", ShellMode::Required, ShellKind::Bash, "shell = sh bash ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const Task task = only_task(parse(c.input));
    ASSERT_TRUE(task.header()->shell_override().has_value());
    const std::optional<ShellOverrideView> view = task.header_view().shell;
    EXPECT_EQ(view.has_value(), c.mode.has_value());
    if (!view || !c.mode) continue;
    EXPECT_EQ(view->mode, *c.mode);
    EXPECT_EQ(view->shell, *c.shell);
    EXPECT_EQ(slice(c.input, view->range), c.range);
    EXPECT_EQ(slice(c.input, view->shell_range), name(view->shell));
  }
  EXPECT_EQ(name(ShellMode::Required), "shell=");
  EXPECT_EQ(name(ShellMode::Preferred), "shell~=");
}

// ---- Body lines ----

struct LineExpect {
  std::string text;
  std::string range;           // document text at `range`
  Strings lines;               // document text at each line range; empty for a single line
  std::vector<uint32_t> bars;  // start offset of each `|`
};

TEST(AstViewTask, BodyLines) {
  struct Case {
    const char* input;
    std::vector<LineExpect> lines;
  };
  const Case cases[] = {
      {"b:\n    | set -e\n    | make\n    echo done\n",
       {{"set -e\nmake\n", "    | set -e\n    | make\n", {"    | set -e", "    | make"}, {7, 20}},
        {"echo done", "echo done", {}, {}}}},
      {"b:\n  |grep x\n", {{"|grep x", "|grep x", {}, {}}}},
      // Trailing blanks stay; blank and comment lines are skipped.
      {"b:\n\n\t echo  hi \t\n  # note\n  \n", {{"echo  hi \t", "echo  hi \t", {}, {}}}},
      // A bare bar, a tab after the bar, two spaces after the bar (one is kept), no final
      // terminator.
      {"b:\n  |\n  |\tx\n  |  y",
       {{"\nx\n y\n", "  |\n  |\tx\n  |  y", {"  |", "  |\tx", "  |  y"}, {5, 9, 15}}}},
      // CR LF and lone CR end lines too; the block range takes the last terminator.
      {"b:\r\n  | a\r\n  | b\r  c\r\n",
       {{"a\nb\n", "  | a\r\n  | b\r", {"  | a", "  | b"}, {6, 13}}, {"c", "c", {}, {}}}},
      // A blank line or a comment line ends a block.
      {"b:\n  | a\n\n  | b\n  # c\n  | d\n",
       {{"a\n", "  | a\n", {"  | a"}, {5}},
        {"b\n", "  | b\n", {"  | b"}, {12}},
        {"d\n", "  | d\n", {"  | d"}, {24}}}},
      {"b:\n  \xC2\xA5 \xF0\x9F\x98\x82\n  | \xE2\x86\x93\n",
       {{"\xC2\xA5 \xF0\x9F\x98\x82", "\xC2\xA5 \xF0\x9F\x98\x82", {}, {}},
        {"\xE2\x86\x93\n", "  | \xE2\x86\x93\n", {"  | \xE2\x86\x93"}, {15}}}},
      {"b:\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const Task task = only_task(parse(c.input));
    const std::vector<BodyLine> lines = task.body_lines();
    ASSERT_EQ(lines.size(), c.lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      const BodyLine& line = lines[i];
      const LineExpect& want = c.lines[i];
      EXPECT_EQ(line.text, want.text);
      EXPECT_EQ(slice(c.input, line.range), want.range);
      EXPECT_EQ(line.is_block(), !want.bars.empty());
      Strings got_lines;
      for (TextRange r : line.line_ranges) got_lines.push_back(slice(c.input, r));
      EXPECT_EQ(got_lines, want.lines);
      std::vector<uint32_t> got_bars;
      for (TextRange r : line.marker_ranges) {
        EXPECT_EQ(r.len(), 1u);
        got_bars.push_back(r.start);
      }
      EXPECT_EQ(got_bars, want.bars);
    }
  }
}

// ---- Casts and malformed input ----

TEST(AstViewCast, ErrorItemsAndWrongKindsNeverCast) {
  const char* inputs[] = {"!\n",
                          "!version 0.1 # note\n",
                          "group tools { # x\n",
                          "} extra\n",
                          "build: echo hi\n",
                          "build ? linux:\n",
                          "build(x)\n  make all\n",
                          "1"};
  for (const char* input : inputs) {
    SCOPED_TRACE(input);
    const ParseResult parsed = parse(input);
    ASSERT_FALSE(parsed.diagnostics.empty());
    for (const SyntaxNode& item : parsed.document().items()) {
      if (item.kind() != K::ErrorItem) continue;
      EXPECT_FALSE(Directive::cast(item));
      EXPECT_FALSE(Metadata::cast(item));
      EXPECT_FALSE(GroupLine::cast(item));
      EXPECT_FALSE(Task::cast(item));
      EXPECT_FALSE(TaskHeader::cast(item));
      EXPECT_FALSE(Document::cast(item));
    }
  }
  const ParseResult parsed = parse("b(x) ? @os(\"a\") & c shell=sh:\n");
  auto header = find(parsed.root, K::TaskHeader);
  ASSERT_TRUE(header.has_value());
  EXPECT_FALSE(Task::cast(*header));
  EXPECT_TRUE(TaskHeader::cast(*header));
  EXPECT_FALSE(Guard::cast(*find(parsed.root, K::Dependency)));
  EXPECT_FALSE(Dependency::cast(*find(parsed.root, K::Guard)));
  EXPECT_FALSE(ShellOverride::cast(*find(parsed.root, K::ParameterList)));
  EXPECT_FALSE(ParameterList::cast(*find(parsed.root, K::Parameter)));
  EXPECT_TRUE(Document::cast(parsed.root));
}

// Builds a one-item tree from (kind, text) tokens, wrapping them in `nodes` from the outside
// in, and returns the innermost node.
struct Piece {
  K kind;
  std::string_view text;
};
SyntaxNode build(std::vector<K> nodes, std::vector<Piece> pieces) {
  GreenBuilder builder;
  builder.start_node(K::Document);
  for (K kind : nodes) builder.start_node(kind);
  for (const Piece& piece : pieces) builder.token(piece.kind, piece.text);
  for (size_t i = 0; i < nodes.size(); ++i) builder.finish_node();
  builder.finish_node();
  SyntaxNode node = SyntaxNode::new_root(builder.finish());
  while (auto child = node.first_child()) node = *child;
  return node;
}

// Nodes the parser does not make (empty, or missing their leading token) still give empty
// answers rather than crashing.
TEST(AstViewCast, HalfFormedNodesGiveNothing) {
  auto directive = Directive::cast(build({K::Directive}, {{K::Bang, "!"}}));
  ASSERT_TRUE(directive);
  EXPECT_FALSE(directive->name() || directive->kind() || directive->value_text() ||
               directive->arguments() || directive->variable_name_range());
  auto empty_directive = Directive::cast(build({K::Directive}, {}));
  ASSERT_TRUE(empty_directive);
  EXPECT_FALSE(empty_directive->name() || empty_directive->value_text());

  auto metadata = Metadata::cast(build({K::Metadata}, {{K::LBracket, "["}, {K::RBracket, "]"}}));
  ASSERT_TRUE(metadata);
  EXPECT_FALSE(metadata->field() || metadata->value() || metadata->key_range());

  auto group = GroupLine::cast(build({K::GroupLine}, {}));
  ASSERT_TRUE(group);
  EXPECT_FALSE(group->is_close() || group->name());

  auto task = Task::cast(build({K::Task}, {{K::Word, "b"}, {K::Newline, "\n"}, {K::Word, "x"}}));
  ASSERT_TRUE(task);
  EXPECT_FALSE(task->header() || task->name() || task->name_range());
  EXPECT_TRUE(task->header_view().parameters.empty());
  // Without a header the body starts after the task's first line.
  ASSERT_EQ(task->body_lines().size(), 1u);
  EXPECT_EQ(task->body_lines()[0].text, "x");
  EXPECT_EQ(task->body_lines()[0].range, TextRange(2, 3));

  auto header = TaskHeader::cast(build({K::TaskHeader}, {{K::Colon, ":"}}));
  ASSERT_TRUE(header);
  const TaskHeaderView view = header->view();
  EXPECT_FALSE(view.name || view.dependency_summary || view.shell || view.body_marker_range);

  auto name = TaskName::cast(build({K::TaskName}, {}));
  ASSERT_TRUE(name);
  EXPECT_FALSE(name->text() || name->token_range());

  auto parameter = Parameter::cast(build({K::Parameter}, {{K::Comma, ","}}));
  ASSERT_TRUE(parameter);
  EXPECT_FALSE(parameter->view());

  auto guard = Guard::cast(build({K::Guard}, {{K::Question, "?"}}));
  ASSERT_TRUE(guard);
  EXPECT_FALSE(guard->view());
  // A name before the `@`: the head starts at the name, never runs backwards.
  auto late_at = Guard::cast(
      build({K::Guard}, {{K::Question, "?"}, {K::Word, "os"}, {K::At, "@"}, {K::String, "\"x\""}}));
  ASSERT_TRUE(late_at && late_at->view());
  EXPECT_EQ(late_at->view()->head_range, TextRange(1, 3));

  const std::vector<std::vector<Piece>> dependencies = {
      {},
      {{K::Ampersand, "&"}},
      {{K::Ampersand, "&"}, {K::LParen, "("}},
      {{K::Ampersand, "&"}, {K::LParen, "("}, {K::RParen, ")"}},
      {{K::Ampersand, "&"}, {K::LParen, "("}, {K::Comma, ","}, {K::RParen, ")"}},
  };
  for (const auto& pieces : dependencies) {
    auto dependency = Dependency::cast(build({K::Dependency}, pieces));
    ASSERT_TRUE(dependency);
    EXPECT_TRUE(dependency->entries(0).empty());
  }

  auto shell = ShellOverride::cast(build({K::ShellOverride}, {{K::Word, "bash"}}));
  ASSERT_TRUE(shell);
  EXPECT_FALSE(shell->view());
  auto wordless = ShellOverride::cast(build({K::ShellOverride}, {{K::ShellKeyword, "shell"}}));
  ASSERT_TRUE(wordless);
  EXPECT_FALSE(wordless->view());
}

TEST(AstViewWords, FromWordAndName) {
  EXPECT_EQ(GuardKind::from_word("os"), GuardKind::Os);
  EXPECT_EQ(ShellKind::from_word("powershell"), ShellKind::Powershell);
  EXPECT_EQ(MetadataField::from_word("fail"), MetadataField::Fail);
  EXPECT_EQ(name(ShellKind::from_word("Bash")), "Bash");
  EXPECT_NE(ShellKind::from_word("Bash"), ShellKind::Bash);
  EXPECT_EQ(name(GuardKind(GuardKind::Arch)), "arch");
  EXPECT_EQ(unquote("\""), std::nullopt);
  EXPECT_EQ(unquote("\"\""), "");
  EXPECT_EQ(unquote("\"a"), std::nullopt);
}

}  // namespace
}  // namespace quib
