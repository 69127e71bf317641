// The canonical layout, case by case: whole documents, single declarations, refusals, and the
// text operations the layout is built from.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "syntax/format_item.h"
#include "syntax/formatter.h"
#include "syntax/parse.h"

namespace quib {
namespace {

struct LayoutCase {
  const char* name;
  std::string input;
  std::optional<std::string> expected;  // nothing: the formatter refuses
};

std::string case_name(const testing::TestParamInfo<LayoutCase>& info) {
  return info.param.name;
}

// ---- whole documents ----

class FormatDocument : public testing::TestWithParam<LayoutCase> {};

TEST_P(FormatDocument, LaysOutCanonically) {
  const LayoutCase& c = GetParam();
  EXPECT_EQ(format_document(c.input), c.expected);
}

// Into a given buffer, whatever it held: the same layout, in that buffer when it has the room.
TEST_P(FormatDocument, LaysOutIntoAGivenBuffer) {
  const LayoutCase& c = GetParam();
  std::string storage(4096 + 2 * c.input.size(), '#');
  const char* const buffer = storage.data();
  const std::optional<std::string> laid_out =
      format_document_into(c.input, parse(c.input), std::move(storage));
  EXPECT_EQ(laid_out, c.expected);
  if (laid_out) {
    EXPECT_EQ(laid_out->data(), buffer);
  }
}

const std::string kCanonical =
    "!version 0.1\n"
    "!var target = \"prod\"\n"
    "\n"
    "# Build steps\n"
    "[help] Build it\n"
    "[desc] All of it\n"
    "build(mode = \"fast\", rest..) ? @os(\"linux\") & lint:\n"
    "    make {{mode}}\n"
    "\n"
    "    | set -e\n"
    "    |   make install\n"
    "\n"
    "group ci {\n"
    "\n"
    "    lint():\n"
    "        cargo clippy\n"
    "}\n";

const std::string kReturnsInGroup = "group g {\n\n    t():\n        \"\n\n        b\n}\n";

const std::string kOpenShellClause =
    "t(a)\n"
    "    ? @os(\"l\")\n"
    "    & n\n"
    "    shell~=@env(deno\n"
    ":\n"
    "    y\n";

INSTANTIATE_TEST_SUITE_P(
    Documents, FormatDocument,
    testing::Values(
        LayoutCase{"CanonicalTextIsUnchanged", kCanonical, kCanonical},
        LayoutCase{"EmptyStaysEmpty", "", ""},
        LayoutCase{"BlankLinesOnlyBecomeEmpty", "\n   \n\t\n\n", ""},
        LayoutCase{"DirectivesArePackedTogether",
                   "!version 0.1\n\n!shell   bash\n\n\n!var a=\"x\"\n",
                   "!version 0.1\n!shell bash\n!var a = \"x\"\n"},
        LayoutCase{"DirectiveNameFollowsTheBang", "!  version   0.1  \n", "!version 0.1\n"},
        LayoutCase{"VariableSplitsAtTheEqualsTokenNotInsideTheString", "!var  a=\"k = v\"\n",
                   "!var a = \"k = v\"\n"},
        LayoutCase{"TrailingNoBreakSpaceOfADirectiveIsAToken", "!version 0.1\xC2\xA0\n",
                   "!version 0.1\xC2\xA0\n"},
        LayoutCase{"MetadataIsSortedAndSticksToItsTask",
                   "[fail] x\n[help] y\n[desc] z\nbuild:\n  make\n",
                   "[help] y\n[desc] z\n[fail] x\nbuild():\n    make\n"},
        LayoutCase{"MetadataWithEqualKeysKeepsItsOrder",
                   "[team] b\n[help] 1\n[team] a\n[help] 2\nb:\n  x\n",
                   "[help] 1\n[help] 2\n[team] b\n[team] a\nb():\n    x\n"},
        LayoutCase{"LooseMetadataAttachesToTheNextItem", "[help] loose\n\nbuild:\n  make\n",
                   "[help] loose\nbuild():\n    make\n"},
        LayoutCase{"MetadataRunsApartStayApart", "[desc] a\n\n[help] b\nbuild:\n  x\n",
                   "[desc] a\n\n[help] b\nbuild():\n    x\n"},
        LayoutCase{"CommentAfterMetadataSticksToIt", "[help] a\n\n# c\nbuild:\n  x\n",
                   "[help] a\n# c\nbuild():\n    x\n"},
        LayoutCase{"MetadataAtTheEndIsSortedToo", "build:\n  x\n[fail] f\n[help] h\n",
                   "build():\n    x\n\n[help] h\n[fail] f\n"},
        LayoutCase{"MetadataValueKeepsALeadingNoBreakSpace", "[help]\xC2\xA0# x\n",
                   "[help] \xC2\xA0# x\n"},
        LayoutCase{"MetadataPlaceholdersAreTrimmed", "[help]   {{  name }}  \n",
                   "[help] {{name}}\n"},
        LayoutCase{"HeadGainsParenthesesAndParameterSpacing",
                   "deploy( target ,mode=\"fast\",rest.. ):\n make\n",
                   "deploy(target, mode = \"fast\", rest..):\n    make\n"},
        LayoutCase{"ParameterListOnSeveralLinesIsJoined", "run(a,\n    b\n  ,c =\n  \"x\"):\n  x\n",
                   "run(a, b, c = \"x\"):\n    x\n"},
        LayoutCase{"TwoClausesStayOnTheHeaderLine", "b ? @os( \"linux\" ) & ( a ,b ):\n  x\n",
                   "b() ? @os(\"linux\") & (a, b):\n    x\n"},
        LayoutCase{"ThreeClausesBreakWithTheColonAlone",
                   "b ? @os(\"linux\") & lint & test(\"a\" ,\"b\") shell = bash:\n  x\n",
                   "b()\n    ? @os(\"linux\")\n    & lint\n    & test(\"a\", \"b\")\n"
                   "    shell=bash\n:\n    x\n"},
        LayoutCase{"BrokenHeaderWithoutBodyHasNoColon", "all ? @os(\"x\") & a & b\n",
                   "all()\n    ? @os(\"x\")\n    & a\n    & b\n"},
        LayoutCase{"TaskWithoutCommandsLosesItsColon", "all & build & test\nb ? @has(\"x\"):\n\n",
                   "all() & build & test\n\nb() ? @has(\"x\")\n"},
        LayoutCase{"ParameterListAfterAGuardMovesToTheHead", "b ? @os(\"l\") (x):\n  y\n",
                   "b(x) ? @os(\"l\"):\n    y\n"},
        LayoutCase{"ShellClauseLosesItsBlanks", "b shell = bash:\n  x\nc shell~=  pwsh:\n  x\n",
                   "b() shell=bash:\n    x\n\nc() shell~=pwsh:\n    x\n"},
        LayoutCase{"RequiredShellWrittenWithTildeKeepsItsMode", "b shell ~= pwsh:\n  x\n",
                   "b() shell ~= pwsh:\n    x\n"},
        LayoutCase{"ShellWordsAreNotGluedTogether", "b shell=ba sh:\n  x\n",
                   "b() shell=ba sh:\n    x\n"},
        LayoutCase{"EveryShellClauseIsKept", "b shell=bash  shell = sh:\n  x\n",
                   "b() shell=bash shell=sh:\n    x\n"},
        LayoutCase{"CommandsAreIndentedWithTrailingBlanksKept", "build():\n   make all   \n",
                   "build():\n    make all   \n"},
        LayoutCase{"BlankRunsInABodyBecomeOneEmptyLine",
                   "b:\n\n  x\n   \n\n\t\n  y\n\n\n\nc:\n  z\n",
                   "b():\n    x\n\n    y\n\nc():\n    z\n"},
        LayoutCase{"BlockLinesKeepTheirInnerIndentation",
                   "b:\n  | set -e\n  |     if x\n  |\n  | \n  |\t\ty\n",
                   "b():\n    | set -e\n    |     if x\n    |\n    |\n    | \ty\n"},
        LayoutCase{"BarWithoutABlankIsAnOrdinaryCommand", "b:\n\t|grep x\n  |  y\n",
                   "b():\n    |grep x\n    |  y\n"},
        LayoutCase{"CommandPlaceholdersAreTrimmedUnlessEscaped",
                   "b(n):\n  echo {{  n }} \\{{ x }} {{ a } }} {{ y\n",
                   "b(n):\n    echo {{n}} \\{{ x }} {{ a } }} {{ y\n"},
        LayoutCase{"CommentsStayAttachedOrApartAsWritten",
                   "# a   \n# b\nbuild:\n  x\n# c\n\nlint:\n  y\n",
                   "# a\n# b\nbuild():\n    x\n\n# c\n\nlint():\n    y\n"},
        LayoutCase{"BlankLinesBetweenTasksBecomeOne", "a:\n  x\n\n\n\nb:\n  y\n",
                   "a():\n    x\n\nb():\n    y\n"},
        LayoutCase{"GroupContentIsIndented",
                   "group  ci{\n[help] Lint\nlint( ):\n  x\n\n  # note\n    test():\n  y\n\n}\n",
                   "group ci {\n\n    [help] Lint\n    lint():\n        x\n\n    # note\n"
                   "    test():\n        y\n}\n"},
        LayoutCase{"ItemsAfterAGroupAreNotIndented", "group g {\n}\n!var a = \"b\"\n",
                   "group g {\n}\n\n!var a = \"b\"\n"},
        LayoutCase{"LoneCarriageReturnInsideACommentIsNoLineBreak",
                   "group g {\n    t():\n        x # a\r!b\n}\n",
                   "group g {\n\n    t():\n        x # a\r!b\n}\n"},
        // Returns ending a command (inside a comment or an unterminated string) are line
        // breaks: the last pairs with the line feed, the others make an empty line. Kept in the
        // command, a group's indentation took one off at each formatting.
        LayoutCase{"ReturnsEndingACommentInACommandAreLineBreaks", "t():\n  a # c\r\r\n  b\n",
                   "t():\n    a # c\n\n    b\n"},
        LayoutCase{"ReturnsEndingAStringInAGroupedCommandAreLineBreaks",
                   "group g {\n    t():\n        \"\r\r\r\n        b\n}\n", kReturnsInGroup},
        LayoutCase{"ReturnsEndingAStringInAGroupedCommandAreStable", kReturnsInGroup,
                   kReturnsInGroup},
        LayoutCase{"MissingFinalNewlineIsAdded", "b:\n  x", "b():\n    x\n"},
        LayoutCase{"TrailingBlankLinesBecomeOneNewline", "# c\n\n\n\n", "# c\n"},
        LayoutCase{"CrLfInputComesOutWithLineFeeds",
                   "!version 0.1\r\n\r\nb:\r\n  x  \r\n# c\r\n\r\n",
                   "!version 0.1\n\nb():\n    x  \n\n# c\n"},
        LayoutCase{"ByteOrderMarkDoesNotPushTheFirstItemDown", "\xEF\xBB\xBF\n\n!version 0.1\n",
                   "\xEF\xBB\xBF!version 0.1\n"},
        LayoutCase{"ByteOrderMarkAloneStaysAlone", "\xEF\xBB\xBF\n\n", "\xEF\xBB\xBF"},
        LayoutCase{"ParseErrorsAreRefused", "build: echo hi\n", std::nullopt},
        LayoutCase{"CommentInsideAParameterListIsRefused", "b(a, # c\n  d):\n  x\n", std::nullopt},
        LayoutCase{"CommentInAShellClauseIsRefused", "b() shell=bash # c\n:\n  x\n", std::nullopt},
        LayoutCase{"UnterminatedStringInAHeaderIsRefused", "b(x) ? @os \"x\n:\n  y\n",
                   std::nullopt},
        LayoutCase{"SecondParameterListIsRefused", "b(a)(c):\n  x\n", std::nullopt},
        // The model reads a command with a lone carriage return (inside an unterminated
        // string) as two commands; no reference is trimmed across the return.
        LayoutCase{"ReferenceDoesNotReachAcrossALoneCarriageReturn",
                   "ci():\n    th {{e \"\rhcr.io\" }} {{ a }}\n",
                   "ci():\n    th {{e \"\rhcr.io\" }} {{a}}\n"},
        // The parameter ends at the list's `)` whatever brackets stand open in it.
        LayoutCase{"UnclosedBracketInAParameterStaysInItsList", "r(c[ y):\n  x\n",
                   "r(c[ y):\n    x\n"},
        // Parentheses nested in the list go; the parameters stay as they were.
        LayoutCase{"NestedParenthesesInAParameterListGo", "r((a) b, (c)):\n  x\n",
                   "r(a, b, c):\n    x\n"},
        // A nested `)` that ends a parameter with an unclosed `[`: without it, the parameter
        // would take in the ones after it.
        LayoutCase{"NestedParenthesisEndingAnOpenBracketIsRefused", "r((c[ y) z):\n  x\n",
                   std::nullopt},
        // `"x\"` is a string only while no other quote follows on its line; joining the list's
        // lines would make it run on to the quote before `y`.
        LayoutCase{"StringClosedAfterABackslashInAJoinedHeaderIsRefused",
                   "t(a = \"x\\\",\n  b = \"y\"):\n  z\n", std::nullopt},
        LayoutCase{"ParameterListTextOutsideParametersIsRefused", "b(\"x\"):\n  y\n", std::nullopt},
        // A shell clause that leaves a `(` open ends at its line, so its broken layout is
        // laid out the same way again.
        LayoutCase{"OpenParenInShellClauseBreaksLikeAnyClause",
                   "t(a) ? @os(\"l\") & n shell~=@env(deno:\n    y\n", kOpenShellClause},
        LayoutCase{"OpenParenInShellClauseIsStable", kOpenShellClause, kOpenShellClause},
        // Joined on one line, a shell clause that leaves a `(` open would take the next one
        // into itself (its shell would become `sh`): each keeps a line of its own.
        LayoutCase{"ShellClauseAfterAnOpenParenKeepsItsLine",
                   "b(x)\n  shell=bash (\n  shell=sh\n:\n  y\n",
                   "b(x)\n    shell=bash(\n    shell=sh\n:\n    y\n"},
        // The open clause is written last, after the dependency written below it.
        LayoutCase{"ShellClauseWithAnOpenParenWrittenLastStaysOnOneLine",
                   "b(x)\n  shell=bash (\n  & y\n:\n  z\n", "b(x) & y shell=bash(:\n    z\n"},
        LayoutCase{"ClosedParensInShellClausesStayOnOneLine",
                   "b(x)\n  shell=bash ()\n  shell=sh\n:\n  y\n",
                   "b(x) shell=bash() shell=sh:\n    y\n"}),
    case_name);

// ---- single declarations ----

struct DeclarationCase {
  const char* name;
  // "^" marks an empty range, "[[" and "]]" a range; both are removed before formatting.
  std::string fixture;
  std::optional<std::string> expected;  // the document after the edit; nothing: refused
};

std::string declaration_case_name(const testing::TestParamInfo<DeclarationCase>& info) {
  return info.param.name;
}

class FormatDeclaration : public testing::TestWithParam<DeclarationCase> {};

TEST_P(FormatDeclaration, ReplacesTheTouchedDeclarationOnly) {
  const DeclarationCase& c = GetParam();
  std::string text = c.fixture;
  TextRange range;
  if (const size_t caret = text.find('^'); caret != std::string::npos) {
    text.erase(caret, 1);
    range = TextRange(static_cast<uint32_t>(caret), static_cast<uint32_t>(caret));
  } else {
    const size_t open = text.find("[[");
    text.erase(open, 2);
    const size_t close = text.find("]]");
    text.erase(close, 2);
    range = TextRange(static_cast<uint32_t>(open), static_cast<uint32_t>(close));
  }
  const std::optional<DeclarationEdit> edit = format_declaration(text, range);
  ASSERT_EQ(edit.has_value(), c.expected.has_value());
  if (!edit) return;
  EXPECT_TRUE(edit->new_text.ends_with('\n'));
  const std::string edited =
      text.substr(0, edit->range.start) + edit->new_text + text.substr(edit->range.end);
  EXPECT_EQ(edited, *c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Declarations, FormatDeclaration,
    testing::Values(
        DeclarationCase{"OnlyTheTaskUnderTheCursorChanges",
                        "!var  a=\"x\"\nb:\n    ec^ho\n\nc :\n  y\n",
                        "!var  a=\"x\"\nb():\n    echo\n\nc :\n  y\n"},
        DeclarationCase{"EditStartsAtTheLineStart", "!var a = \"x\"\n   [help]^  Hi\nb:\n  y\n",
                        "!var a = \"x\"\n[help] Hi\nb:\n  y\n"},
        DeclarationCase{"TextBeforeTheNodeOnItsLineStays", "\xEF\xBB\xBF  ^b:\n  y\n",
                        "\xEF\xBB\xBF  b():\n    y\n"},
        DeclarationCase{"InsideAGroupTheDeclarationIsIndented",
                        "group g {\nb ? @os( \"l\" )[[:\n x]]\n}\n",
                        "group g {\n    b() ? @os(\"l\"):\n        x\n}\n"},
        DeclarationCase{"GroupLinesStayAtColumnZero", "group g {\n    b():\n        x\n  }^\n",
                        "group g {\n    b():\n        x\n}\n"},
        DeclarationCase{"AfterTheGroupNothingIsIndented", "group g {\n}\n!var  a=^\"x\"\n",
                        "group g {\n}\n!var a = \"x\"\n"},
        DeclarationCase{"RangeOverTwoDeclarationsIsRefused", "a:\n  [[x\nb:]]\n  y\n",
                        std::nullopt},
        DeclarationCase{"RangeOverBlankLinesAndCommentsIsRefused",
                        "!version 0.1\n[[\n# c\n]]\nb:\n  x\n", std::nullopt},
        DeclarationCase{"DocumentWithDiagnosticsIsRefused", "b:\n  x\n^c: y\n", std::nullopt}),
    declaration_case_name);

// ---- text operations ----

struct TextCase {
  const char* input;
  const char* expected;
};

class CompactExpression : public testing::TestWithParam<TextCase> {};

TEST_P(CompactExpression, SpacesTokensCanonically) {
  EXPECT_EQ(compact_expression(GetParam().input), GetParam().expected);
}

// The layout appends each clause to the item's buffer: what the buffer already holds must not
// count as written expression text (no space in front of the first token).
TEST_P(CompactExpression, AppendsAfterWhatTheBufferHolds) {
  std::string out = "? ";
  append_compact_expression(out, GetParam().input);
  EXPECT_EQ(out, std::string("? ") + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Expressions, CompactExpression,
    testing::Values(TextCase{"@os ( \"linux\" )", "@os(\"linux\")"}, TextCase{"a ,b", "a, b"},
                    TextCase{"@env(\"A\")   &   @has(\"git\")", "@env(\"A\") & @has(\"git\")"},
                    TextCase{"d( \"a , b\" ,\t\"c\" )", "d(\"a , b\", \"c\")"},
                    TextCase{"ci . build", "ci . build"},
                    TextCase{"@env(\"a\\\" )  b\")", "@env(\"a\\\" )  b\")"},
                    TextCase{"  x  ", "x"}));

class NormalizePlaceholders : public testing::TestWithParam<TextCase> {};

TEST_P(NormalizePlaceholders, TrimsExactlyTheReferencesTheScannerFinds) {
  EXPECT_EQ(normalize_placeholders(GetParam().input), GetParam().expected);
}

TEST_P(NormalizePlaceholders, AppendsAfterWhatTheBufferHolds) {
  std::string out = "    {{ ";
  append_normalized_placeholders(out, GetParam().input);
  EXPECT_EQ(out, std::string("    {{ ") + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, NormalizePlaceholders,
    testing::Values(TextCase{"echo {{ name }}!", "echo {{name}}!"},
                    TextCase{"{{a}} {{\tb  }}", "{{a}} {{b}}"}, TextCase{"{{  }}", "{{}}"},
                    TextCase{"\\{{ x }}", "\\{{ x }}"},
                    TextCase{"\\\\{{ x }}", "\\\\{{x}}"},  // two backslashes escape nothing
                    TextCase{"\\{{{ x }}", "\\{{{ x }}"},  // the escaped opening hides it
                    TextCase{"{{ x", "{{ x"}, TextCase{"{{ a } }}", "{{ a } }}"},
                    TextCase{"{{\xC2\xA0x }}", "{{x}}"}));

TEST(IndentBlock, IndentsNonEmptyLinesOnly) {
  EXPECT_EQ(indent_block("a\n\n  b\r\nc"), "    a\n\n      b\n    c");
  EXPECT_EQ(indent_block(""), "");
  std::string out = "x\n";
  append_indented(out, "a\n\nb");
  EXPECT_EQ(out, "x\n    a\n\n    b");
}

TEST(FormatItem, ErrorItemsAndNonItemsAreErrors) {
  const ParseResult parsed = parse("1\n");
  const auto error_item = format_item(parsed.root.children().at(0), "1\n");
  ASSERT_TRUE(std::holds_alternative<ItemError>(error_item));
  EXPECT_EQ(std::get<ItemError>(error_item).message, "cannot format invalid syntax");
  const auto root = format_item(parsed.root, "1\n");
  ASSERT_TRUE(std::holds_alternative<ItemError>(root));
  EXPECT_EQ(std::get<ItemError>(root).message, "range does not contain a declaration");
}

}  // namespace
}  // namespace quib
