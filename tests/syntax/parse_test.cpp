// Item rules and recovery of the parser, stated as the items and diagnostics each input
// gives, plus full tree dumps for the shapes inside task headers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/parse.h"
#include "syntax/tree_dump.h"

namespace quib {
namespace {

// "Kind" for each item, "Kind!" when it is an ErrorItem, joined by spaces.
std::string item_kinds(const ParseResult& result) {
  std::string out;
  for (const SyntaxNode& item : result.root.children()) {
    if (!out.empty()) out += ' ';
    out += kind_name(item.kind());
  }
  return out;
}

// "code@start..end" for each diagnostic, joined by spaces.
std::string diagnostics(const ParseResult& result) {
  std::string out;
  for (const Diagnostic& d : result.diagnostics) {
    if (!out.empty()) out += ' ';
    out += d.code + "@" + std::to_string(d.range.start) + ".." + std::to_string(d.range.end);
  }
  return out;
}

struct ItemCase {
  const char* name;
  const char* text;
  const char* items;
  const char* diagnostics;
};

class ParseItems : public testing::TestWithParam<ItemCase> {};

TEST_P(ParseItems, ItemsAndDiagnostics) {
  const ItemCase& c = GetParam();
  ParseResult result = parse(c.text);
  EXPECT_EQ(item_kinds(result), c.items) << dump_tree(result.root);
  EXPECT_EQ(diagnostics(result), c.diagnostics) << dump_tree(result.root);
  EXPECT_EQ(result.root.text(), c.text);
}

const ItemCase kItemCases[] = {
    {"Empty", "", "", ""},
    {"OnlyTrivia", "\n# note\n   \n\t# x\n", "", ""},
    {"Directive", "!version 0.1\n", "Directive", ""},
    {"BangAlone", "!\n", "ErrorItem", "parse.malformed-directive@0..1"},
    {"BangThenBlanks", "!   # c\n", "ErrorItem", "parse.malformed-directive@0..1"},
    {"DirectiveWithComment", "!version 0.1 # note\n", "ErrorItem",
     "parse.malformed-directive@0..1"},
    {"Metadata", "[help] Build it\n", "Metadata", ""},
    {"MetadataPlaceholderValue", "[help] {{ x }}\n", "Metadata", ""},
    {"MetadataLoneBrace", "[help] { x\n", "ErrorItem ErrorItem",
     "parse.unexpected-token@0..1 parse.malformed-task-header@1..5"},
    {"MetadataWithoutValue", "[help]\n", "ErrorItem ErrorItem",
     "parse.unexpected-token@0..1 parse.malformed-task-header@1..5"},
    {"MetadataSpacedKey", "[ help ] x\n", "ErrorItem ErrorItem",
     "parse.unexpected-token@0..1 parse.malformed-task-header@2..6"},
    {"GroupOpen", "group tools {\n", "GroupLine", ""},
    {"GroupOpenTight", "group tools{  \n", "GroupLine", ""},
    {"GroupOpenComment", "group tools { # x\n", "ErrorItem",
     "parse.malformed-namespace-header@0..5"},
    {"GroupOpenNoBrace", "group tools\n", "ErrorItem", "parse.malformed-namespace-header@0..5"},
    {"GroupWithoutName", "group {\n", "ErrorItem ErrorItem",
     "parse.unexpected-token@0..5 parse.unexpected-token@6..7"},
    {"GroupClose", "}\n", "GroupLine", ""},
    {"GroupCloseTrailingBlanks", "}   \n", "GroupLine", ""},
    {"GroupCloseExtra", "} extra\n", "ErrorItem", "parse.malformed-namespace-header@0..1"},
    {"TwoTasksBlankLineInFirst", "build:\n    a\n    b\n\ntest:\n    c\n", "Task Task", ""},
    {"CommandOnHeaderLine", "build: echo hi\n", "ErrorItem", "parse.malformed-task-header@0..5"},
    {"CommentAfterColon", "build: # x\n    a\n", "ErrorItem", "parse.malformed-task-header@0..5"},
    {"DependenciesOnly", "all & build & test\n", "Task", ""},
    {"GuardWithoutAt", "build ? linux:\n    a\n", "ErrorItem", "parse.malformed-task-header@0..5"},
    {"GuardOwedAt", "build ?\n", "ErrorItem", "parse.malformed-task-header@0..5"},
    // A guard ends at the next clause until it opens its parenthesis; that clause is checked.
    {"ClauseAfterGuardWithoutParen", "build ? @ci & lint:\n    a\n", "Task", ""},
    // Outside parentheses a shell clause ends at the next dependency, which is checked.
    {"DependencyAfterShellClause", "t shell=bash & x:\n    a\n", "Task", ""},
    {"EmptyDependencyAfterShellClause", "t shell=bash & :\n", "ErrorItem",
     "parse.malformed-task-header@0..1"},
    {"BadClauseAfterGuardWithoutParen", "build ? @os & \"linux\"):\n    a\n", "ErrorItem",
     "parse.malformed-task-header@0..5"},
    {"StrayDigits", "1234\n", "ErrorItem ErrorItem ErrorItem ErrorItem",
     "parse.unexpected-token@0..1 parse.unexpected-token@1..2 parse.unexpected-token@2..3 "
     "parse.unexpected-token@3..4"},
    {"MissingColon", "build(x)\n    make all\n", "ErrorItem", "parse.missing-task-colon@0..5"},
    {"ClauseContinuation", "build(x)\n    & setup:\n        make\n", "Task", ""},
    {"BodylessThenStray", "build\n    make all\n", "Task ErrorItem",
     "parse.malformed-task-header@10..14"},
    {"ParameterListOverTwoLines", "build(a,\n      b):\n    x\n", "Task", ""},
    {"ParameterListContinuesAtColumnZero", "build(a,\nb):\n", "ErrorItem ErrorItem",
     "parse.malformed-task-header@0..5 parse.malformed-task-header@9..10"},
    {"UnclosedParameterListAtEnd", "build(a", "ErrorItem", "parse.malformed-task-header@0..5"},
    {"ParallelDependencies", "t & (lint, test(\"a\", \"b\")) & d(\"x\"):\n    a\n", "Task", ""},
    {"TrailingArgumentComma", "t & d(\"a\",):\n", "ErrorItem", "parse.malformed-task-header@0..1"},
    {"WordArgument", "t & d(a):\n", "ErrorItem", "parse.malformed-task-header@0..1"},
    {"StringsWithoutComma", "t & d(\"a\" \"b\"):\n", "ErrorItem",
     "parse.malformed-task-header@0..1"},
    {"GuardAfterDependency", "t & d ? @os(\"x\"):\n", "ErrorItem",
     "parse.malformed-task-header@0..1"},
    {"QualifiedDependency", "t & ci.build:\n    a\n", "Task", ""},
    {"EmptyDependency", "t & :\n", "ErrorItem", "parse.malformed-task-header@0..1"},
    {"QuestionInShell", "t shell=bash ?:\n", "ErrorItem", "parse.malformed-task-header@0..1"},
    {"ShellClauseLast", "t shell~=pwsh:\n    a\n", "Task", ""},
    {"BomThenTask",
     "\xEF\xBB\xBF"
     "build:\n    a\n",
     "Task", ""},
    {"ColumnZeroPipeStaysInBlock", "build:\n| a\n|b\n", "Task", ""},
    {"NoTrailingNewline", "build:\n    a", "Task", ""},
};

INSTANTIATE_TEST_SUITE_P(Parser, ParseItems, testing::ValuesIn(kItemCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Command blocks inside a group stop at indented item starts that outside a group would be
// command lines.
TEST(ParseGroups, IndentedLinesInsideAndOutsideGroups) {
  const char* inside =
      "group ci {\n"
      "    build():\n"
      "        make\n"
      "    test:\n"
      "    test():\n"
      "        run\n"
      "    # note\n"
      "        not a command\n"
      "}\n";
  ParseResult in_group = parse(inside);
  // `test:` stays a command line of build; `test():` starts a task; the comment ends test's
  // block, so the line after it is a task header of its own.
  EXPECT_EQ(item_kinds(in_group), "GroupLine Task Task ErrorItem GroupLine");
  std::vector<SyntaxNode> items = in_group.root.children();
  EXPECT_EQ(items[1].text(), "build():\n        make\n    test:\n");
  EXPECT_EQ(items[2].text(), "test():\n        run\n");

  const char* outside =
      "build():\n"
      "    make\n"
      "    # note\n"
      "    test():\n";
  ParseResult top_level = parse(outside);
  EXPECT_EQ(item_kinds(top_level), "Task");
}

TEST(ParseGroups, IndentedGroupBoundaryEndsBlock) {
  ParseResult result = parse("build:\n    a\n    }\n");
  EXPECT_EQ(item_kinds(result), "Task GroupLine");
}

// Full shape of a header with every clause.
TEST(ParseTree, HeaderClauses) {
  ParseResult result = parse("run(t, shell=\"b\", r..) ? @os(\"l\") & s shell=bash:\n    x\n");
  EXPECT_TRUE(result.diagnostics.empty());
  EXPECT_EQ(dump_tree(result.root),
            R"dump(Document@0..56
  Task@0..56
    TaskHeader@0..49
      TaskName@0..3
        Word@0..3 "run"
      ParameterList@3..22
        LParen@3..4 "("
        Parameter@4..5
          Word@4..5 "t"
        Comma@5..6 ","
        Whitespace@6..7 " "
        Parameter@7..16
          ShellKeyword@7..12 "shell"
          Equals@12..13 "="
          String@13..16 "\"b\""
        Comma@16..17 ","
        Whitespace@17..18 " "
        Parameter@18..21
          Word@18..19 "r"
          Unknown@19..20 "."
          Unknown@20..21 "."
        RParen@21..22 ")"
      Whitespace@22..23 " "
      Guard@23..33
        Question@23..24 "?"
        Whitespace@24..25 " "
        At@25..26 "@"
        Word@26..28 "os"
        LParen@28..29 "("
        String@29..32 "\"l\""
        RParen@32..33 ")"
      Whitespace@33..34 " "
      Dependency@34..38
        Ampersand@34..35 "&"
        Whitespace@35..36 " "
        Word@36..37 "s"
        Whitespace@37..38 " "
      ShellOverride@38..48
        ShellKeyword@38..43 "shell"
        Equals@43..44 "="
        Word@44..48 "bash"
      BodyMarker@48..49
        Colon@48..49 ":"
    Newline@49..50 "\n"
    Indent@50..54 "    "
    Word@54..55 "x"
    Newline@55..56 "\n"
)dump");
}

// An unclosed `[` inside a parameter does not hide the list's `)`: the parameter, and with it
// the list, ends there, and the colon after it is still the body marker.
TEST(ParseTree, UnclosedBracketInParameterEndsAtListParen) {
  ParseResult result = parse("say(n[=\"x\", m ):\n    echo\n");
  EXPECT_TRUE(result.diagnostics.empty());
  EXPECT_EQ(dump_tree(result.root.first_child()->first_child().value()),
            R"dump(TaskHeader@0..16
  TaskName@0..3
    Word@0..3 "say"
  ParameterList@3..15
    LParen@3..4 "("
    Parameter@4..14
      Word@4..5 "n"
      LBracket@5..6 "["
      Equals@6..7 "="
      String@7..10 "\"x\""
      Comma@10..11 ","
      Whitespace@11..12 " "
      Word@12..13 "m"
      Whitespace@13..14 " "
    RParen@14..15 ")"
  BodyMarker@15..16
    Colon@15..16 ":"
)dump");
}

// The header's colon is its body marker even when a clause before it leaves a `(` open.
TEST(ParseTree, BodyMarkerAfterOpenParenInShellClause) {
  ParseResult result = parse("t shell=( :\n    a\n");
  EXPECT_TRUE(result.diagnostics.empty());
  EXPECT_EQ(dump_tree(result.root.first_child()->first_child().value()),
            R"dump(TaskHeader@0..11
  TaskName@0..1
    Word@0..1 "t"
  Whitespace@1..2 " "
  ShellOverride@2..10
    ShellKeyword@2..7 "shell"
    Equals@7..8 "="
    LParen@8..9 "("
    Whitespace@9..10 " "
  BodyMarker@10..11
    Colon@10..11 ":"
)dump");
}

}  // namespace
}  // namespace quib
