// Hover: the element found under the cursor and its full Markdown text, one fixture per case.
// Fixtures mark the cursor with `^` and the expected hover range with `[[`...`]]`.
#include "lsp/hover.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "cursor_fixture.h"

namespace quib::lsp {
namespace {

using testing::parse_cursor_fixture;

struct HoverCase {
  const char* name;
  const char* fixture;
  std::optional<std::string> expected;  // the Markdown value; nothing for no hover
};

void PrintTo(const HoverCase& c, std::ostream* out) {
  *out << c.name;
}

std::string case_name(const ::testing::TestParamInfo<HoverCase>& info) {
  return info.param.name;
}

void check_hover(std::string_view annotated, const std::optional<std::string>& expected) {
  const testing::CursorFixture fixture = parse_cursor_fixture(annotated);
  const DocumentSnapshot snapshot("file:///t/Quibfile",
                                  std::make_shared<const std::string>(fixture.text), 1);
  const std::optional<HoverInfo> info = hover_at(snapshot, fixture.cursor);
  if (!expected) {
    EXPECT_FALSE(info.has_value()) << hover_markdown(*info);
    return;
  }
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(hover_markdown(*info), *expected);
  ASSERT_TRUE(fixture.range.has_value()) << "a fixture with a hover marks its range";
  EXPECT_EQ(info->range.start, fixture.range->start);
  EXPECT_EQ(info->range.end, fixture.range->end);
}

class Hover : public ::testing::TestWithParam<HoverCase> {};

TEST_P(Hover, ShowsTheElementUnderTheCursor) {
  check_hover(GetParam().fixture, GetParam().expected);
}

// ---- Line items: directives, metadata, group lines ----

INSTANTIATE_TEST_SUITE_P(
    LineItems, Hover,
    ::testing::Values(
        HoverCase{"VersionWithValue", "[[!ver^sion 0.2\n]]",
                  "```quibfile\n!version\n```\n\nDeclares the minimum Quibfile language "
                  "capability required by this file.\n\nCurrent value: `0.2`"},
        // The value is what follows the name, although `shell` is a keyword token.
        HoverCase{"ShellValueAsWritten", "[[!shell  ba^sh\n]]",
                  "```quibfile\n!shell\n```\n\nSets the default shell used for task "
                  "commands.\n\nCurrent value: `bash`"},
        // The directive line wins over the placeholder inside its value.
        HoverCase{"VarValueWithPlaceholder", "[[!var name = \"{{ o^ther }}\"]]",
                  "```quibfile\n!var\n```\n\nDefines a global string value.\n\nCurrent value: "
                  "`name = \"{{ other }}\"`"},
        HoverCase{"VersionWithoutValue", "[[!vers^ion\n]]",
                  "```quibfile\n!version\n```\n\nDeclares the minimum Quibfile language "
                  "capability required by this file."},
        HoverCase{"UnknownDirective", "!o^s linux\n", std::nullopt},
        HoverCase{"UnknownMetadataKey", "[[[te^am] x\n]]build:\n    make\n",
                  "```quibfile\n[team]\n```\n\nUnknown metadata field.\n\nCurrent text: x"},
        HoverCase{"KnownMetadataKey", "[[[fa^il] Broken\n]]build:\n    make\n",
                  "```quibfile\n[fail]\n```\n\nShown when a task fails.\n\nCurrent text: Broken"},
        HoverCase{"MetadataPlaceholderIsMetadata",
                  "[[[pass] Shipped {{ ^v }}\n]]build:\n    make\n",
                  "```quibfile\n[pass]\n```\n\nShown when a task succeeds.\n\nCurrent text: "
                  "Shipped {{ v }}"},
        HoverCase{"GroupOpening", "[help] CI jobs\n[[gro^up ci {\n]]}\n",
                  "```quibfile\ngroup ci {\n```\n\nCI jobs"},
        HoverCase{"GroupWithoutSummary", "[[group c^i {\n]]}\n", "```quibfile\ngroup ci {\n```"},
        // Groups do not nest: the `}` closes the group opened last, and shows that one.
        HoverCase{"ClosingLineShowsTheGroupItClosed",
                  "[help] A\ngroup a {\n[help] B\ngroup b {\n[[^}\n]]", "```quibfile\n}\n```\n\nB"},
        HoverCase{"UnmatchedClosingLine", "^}\n", std::nullopt},
        HoverCase{"TopLevelComment", "# a ^comment\nbuild:\n    make\n", std::nullopt},
        HoverCase{"EndOfDocument", "build:\n    make\n^", std::nullopt}),
    case_name);

// ---- The task header: markers, parallel lists, parameters, guards, shell clauses ----

INSTANTIATE_TEST_SUITE_P(
    Header, Hover,
    ::testing::Values(
        HoverCase{"GuardMarker", "b() [[^?]] @env(\"HOME\"):\n    x\n",
                  "```quibfile\n?\n```\n\nRuns the task only when the guard returns true."},
        HoverCase{"GuardCall", "b() ? [[@e^nv(\"HOME\")]]:\n    x\n",
                  "```quibfile\n@env(\"HOME\")\n```\n\nChecks whether an environment variable "
                  "exists.\n\nCurrent argument: `HOME`"},
        HoverCase{"GuardCallOnItsArgument", "b() ? [[@os(\"lin^ux\")]] ? @has(\"git\"):\n    x\n",
                  "```quibfile\n@os(\"linux\")\n```\n\nChecks the current operating "
                  "system.\n\nCurrent argument: `linux`"},
        HoverCase{"GuardCallWithoutArgument", "b() ? [[@ha^s()]]:\n    x\n",
                  "```quibfile\n@has(...)\n```\n\nChecks whether a command is available."},
        HoverCase{"UnknownGuard", "b() ? @fo^o(\"x\"):\n    x\n", std::nullopt},
        HoverCase{"DependencyMarker", "a:\n    x\nb() [[^&]] (a, a):\n    x\n",
                  "```quibfile\n&\n```\n\nRuns the dependency before this task."},
        HoverCase{"ParallelList", "a:\n    x\nc:\n    x\nb() & [[(a, ^c(\"1\"))]] :\n    x\n",
                  "```quibfile\n(a, c(\"1\"))\n```\n\nRuns these dependencies in parallel."},
        HoverCase{"ParallelListOpeningParen", "a:\n    x\nb() & [[^(a)]]:\n    x\n",
                  "```quibfile\n(a)\n```\n\nRuns these dependencies in parallel."},
        HoverCase{"Parameter", "deploy([[tar^get]], x=\"1\"):\n    x\n",
                  "```quibfile\ntarget\n```\n\nTask parameter.\n\nContainer: `deploy`"},
        HoverCase{"ParameterDefaultInGroup",
                  "group ops {\ndeploy([[target=\"p^rod\"]]):\n    x\n}\n",
                  "```quibfile\ntarget=\"prod\"\n```\n\nTask parameter.\n\nDefault: "
                  "`prod`\n\nContainer: `ops.deploy`"},
        HoverCase{"VariadicParameterWithDefault",
                  "group ops {\ndeploy(a, [[re^st..=\"x\"]]):\n    x\n}\n",
                  "```quibfile\nrest..=\"x\"\n```\n\nVariadic task parameter that captures "
                  "remaining positional arguments.\n\nDefault: `x`\n\nContainer: "
                  "`ops.deploy`"},
        HoverCase{"VariadicParameter", "deploy([[rest^..]]):\n    x\n",
                  "```quibfile\nrest..\n```\n\nVariadic task parameter that captures "
                  "remaining positional arguments.\n\nContainer: `deploy`"},
        HoverCase{"RequiredShell", "b() [[shell=ba^sh]]:\n    x\n",
                  "```quibfile\nshell=bash\n```\n\nUses bash. The task fails if it is "
                  "unavailable."},
        HoverCase{"PreferredShellWithFallback", "b() [[^shell~=pwsh]]:\n    x\n",
                  "```quibfile\nshell~=pwsh\n```\n\nPrefers pwsh and falls back to powershell "
                  "when unavailable."},
        HoverCase{"PreferredShellWithoutFallback", "b() [[shell~=den^o]]:\n    x\n",
                  "```quibfile\nshell~=deno\n```\n\ndeno has no fallback. Use `shell=deno`."},
        HoverCase{"BlankInsideHeader", "b()^ ? @os(\"linux\"):\n    x\n", std::nullopt}),
    case_name);

// ---- Task references ----

INSTANTIATE_TEST_SUITE_P(
    TaskReferences, Hover,
    ::testing::Values(
        HoverCase{"HeaderNameWithSummaryAndDefaults",
                  "[help] Ship it\n[[dep^loy]](target=\"prod\", region=\"eu\"):\n    x\n",
                  "```quibfile\ndeploy(target=\"prod\", region=\"eu\")\n```\n\nShip it\n\nDefault "
                  "to `prod`, `eu`."},
        HoverCase{"HeaderNameWithNeither", "[[b^uild]]:\n    x\n", "```quibfile\nbuild()\n```"},
        HoverCase{"VariadicDefaultInSignature", "[[r^un]](a, rest..=\"x\"):\n    x\n",
                  "```quibfile\nrun(a, rest..=\"x\")\n```\n\nDefault to `x`."},
        // A dependency shows the first definition of its target, with the target's group.
        HoverCase{"DependencyOnGroupSibling",
                  "group ci {\n[help] Compile\nbuild(m=\"fast\"):\n    x\ntest() & [[bu^ild]]:\n"
                  "    x\n}\n",
                  "```quibfile\nbuild(m=\"fast\")\n```\n\nCompile\n\nDefault to "
                  "`fast`.\n\nContainer: `ci`"},
        HoverCase{"DependencyWithArguments", "a(x):\n    y\nb() & [[^a]](\"1\"):\n    y\n",
                  "```quibfile\na(x)\n```"},
        HoverCase{"UndefinedDependency", "b() & nope^:\n    x\n", std::nullopt}),
    case_name);

// ---- The task body: placeholders and command lines ----

INSTANTIATE_TEST_SUITE_P(
    Body, Hover,
    ::testing::Values(
        HoverCase{"PlaceholderWithParameterDefault",
                  "!var target = \"global\"\ndeploy(target=\"prod\"):\n    echo [[{{ t^arget "
                  "}}]]\n",
                  "```quibfile\n{{target}}\n```\n\nReplaces this variable at "
                  "runtime.\n\nDefault: `prod`"},
        HoverCase{"PlaceholderWithVarDefault",
                  "!var region = \"eu\"\ndeploy():\n    echo [[^{{region}}]]\n",
                  "```quibfile\n{{region}}\n```\n\nReplaces this variable at runtime.\n\nDefault: "
                  "`eu`"},
        // A parameter shadows the global variable even without a default of its own.
        HoverCase{"ParameterShadowsVar",
                  "!var region = \"eu\"\ndeploy(region):\n    echo [[{{region^}}]]\n",
                  "```quibfile\n{{region}}\n```\n\nReplaces this variable at runtime."},
        HoverCase{"PlaceholderInBlock", "deploy(a=\"1\"):\n    | set -e\n    | echo [[{{ ^a }}]]\n",
                  "```quibfile\n{{a}}\n```\n\nReplaces this variable at runtime.\n\nDefault: "
                  "`1`"},
        HoverCase{"CommandWithTaskShell", "!shell sh\nb() shell=bash:\n    [[ec^ho {{ x }}]]\n",
                  "```quibfile\nblock (bash)\n```\n\nRuns this block once with "
                  "`bash`.\n\nContainer: `b`"},
        HoverCase{"CommandWithFirstShellDirective",
                  "!shell bash\n!shell pwsh\ngroup g {\nb:\n    [[ma^ke]]\n}\n",
                  "```quibfile\nblock (bash)\n```\n\nRuns this block once with "
                  "`bash`.\n\nContainer: `g.b`"},
        HoverCase{"CommandDefaultsToDeno", "b:\n    [[ma^ke]]\n",
                  "```quibfile\nblock (deno)\n```\n\nRuns this block once with "
                  "`deno`.\n\nContainer: `b`"},
        HoverCase{"BlockCoversItsLines", "b:\n[[    | set -e\n  ^  | make\n]]    echo\n",
                  "```quibfile\nblock (deno)\n```\n\nRuns this block once with "
                  "`deno`.\n\nContainer: `b`"},
        HoverCase{"IndentOfSingleLine", "b:\n  ^  make\n", std::nullopt},
        HoverCase{"CommentLineInBody", "b:\n    # no^te\n    make\n", std::nullopt},
        // An unterminated "{{" in one command does not pair with a "}}" further down.
        HoverCase{"StrayOpeningStaysInItsCommand", "a:\n    echo {{\n[[^b]]:\n    echo }}\n",
                  "```quibfile\nb()\n```"},
        HoverCase{"EscapedPlaceholderIsCommandText", "b:\n    [[echo \\{{ ^x }}]]\n",
                  "```quibfile\nblock (deno)\n```\n\nRuns this block once with "
                  "`deno`.\n\nContainer: `b`"}),
    case_name);

TEST(HoverMarkdown, LeavesOutEmptyParts) {
  EXPECT_EQ(hover_markdown({"task", "b()", std::string(), std::string(), TextRange(0, 1)}),
            "```quibfile\nb()\n```");
}

}  // namespace
}  // namespace quib::lsp
