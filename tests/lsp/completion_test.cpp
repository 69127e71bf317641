// Completion: the full candidate list in every context. Fixtures mark the cursor with `^` and
// the replaced text with `[[`...`]]`; every candidate of one answer replaces the same text.
#include "lsp/completion.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "cursor_fixture.h"
#include "semantic/analyze.h"
#include "syntax/parse.h"

namespace quib::lsp {
namespace {

using testing::parse_cursor_fixture;
using Category = CandidateCategory;

// A candidate without its range, which the fixture gives.
struct Item {
  std::string label;
  std::string detail;
  std::string insert;
  Category category;
};

const Item kVersion{"!version",
                    "Declares the minimum Quibfile language capability required by this file.",
                    "!version ${1:0.5}", Category::Directive};
const Item kVar{"!var", "Defines a global string value.", "!var ${1:name} = \"${2:value}\"",
                Category::Directive};
const Item kShell{"!shell", "Sets the default shell used for task commands.",
                  "!shell ${1|deno,bash,sh,pwsh,powershell|}", Category::Directive};
const Item kOs{"@os", "Checks the current operating system.", "@os(\"${1:linux}\")",
               Category::Guard};
const Item kArch{"@arch", "Checks the current CPU architecture.", "@arch(\"${1:x86_64}\")",
                 Category::Guard};
const Item kEnv{"@env", "Checks whether an environment variable exists.", "@env(\"${1:NAME}\")",
                Category::Guard};
const Item kHas{"@has", "Checks whether a command is available.", "@has(\"${1:command}\")",
                Category::Guard};
const Item kGroup{"group", "Define a task group.", "group ${1:name} {\n    ${0}\n}",
                  Category::Keyword};

Item metadata(std::string key, std::string detail, bool closed) {
  const std::string label = "[" + key + "]";
  return {label, std::move(detail), closed ? label : label + " ${1:text}", Category::MetadataKey};
}
const Item kHelp = metadata("help", "Short task or group summary.", false);
const Item kDesc = metadata("desc", "Extra task help details.", false);
const Item kPass = metadata("pass", "Shown when a task succeeds.", false);
const Item kFail = metadata("fail", "Shown when a task fails.", false);

Item task(std::string name) {
  return {name, "Task dependency.", name, Category::TaskDependency};
}
Item group(std::string name) {
  return {name, "Group dependency.", name, Category::GroupDependency};
}
Item grouped(std::string name, const std::string& in) {
  return {name, "Task in group " + in + ".", name, Category::TaskDependency};
}

struct CompletionCase {
  const char* name;
  const char* fixture;
  std::vector<Item> expected;
};

void PrintTo(const CompletionCase& c, std::ostream* out) {
  *out << c.name;
}

std::string case_name(const ::testing::TestParamInfo<CompletionCase>& info) {
  return info.param.name;
}

std::string describe(const std::vector<CompletionCandidate>& candidates) {
  std::string out;
  for (const CompletionCandidate& c : candidates) {
    out += c.label + " [" + std::to_string(c.replace.start) + ".." + std::to_string(c.replace.end) +
           ") " + c.insert + "\n";
  }
  return out;
}

void check_completion(std::string_view annotated, const std::vector<Item>& expected) {
  const testing::CursorFixture fixture = parse_cursor_fixture(annotated);
  std::vector<CompletionCandidate> want;
  for (const Item& item : expected) {
    QUIB_ASSERT(fixture.range.has_value(), "a fixture with candidates marks the replaced text");
    want.push_back({item.label, item.detail, item.insert, *fixture.range, item.category});
  }
  const SemanticModel model = analyze(parse(fixture.text));
  const std::vector<CompletionCandidate> got = completion_at(model, fixture.text, fixture.cursor);
  EXPECT_EQ(got, want) << "got:\n" << describe(got) << "want:\n" << describe(want);
}

class Completion : public ::testing::TestWithParam<CompletionCase> {};

TEST_P(Completion, OffersTheFullList) {
  check_completion(GetParam().fixture, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, Completion,
    ::testing::Values(
        CompletionCase{"BangAlone", "[[!^]]", {kVersion, kVar, kShell}},
        CompletionCase{"BangPrefix", "build:\n    x\n[[!v^]]\n", {kVersion, kVar}},
        CompletionCase{"IndentedBang", "  [[!sh^]]", {kShell}},
        CompletionCase{"BangAfterText", "x !v^", {}},
        CompletionCase{"BangUnknownPrefix", "!z^", {}},
        CompletionCase{"GuardAfterQuestion", "b() ? [[@e^]]", {kEnv}},
        CompletionCase{"SecondGuard", "b() ? @os(\"linux\") ? [[@^]]", {kOs, kArch, kEnv, kHas}},
        CompletionCase{"AtWithoutQuestion", "b() @e^", {}},
        CompletionCase{"BracketOnEmptyLine", "[[[^]]\nbuild:\n", {kHelp, kDesc, kPass, kFail}},
        CompletionCase{"BracketClosedAfterCursor",
                       "[[[h^]]] x",
                       {metadata("help", "Short task or group summary.", true)}},
        CompletionCase{"BracketClosedAfterRestOfKey",
                       "[[[p^ass]]]",
                       {metadata("pass", "Shown when a task succeeds.", true)}},
        // A `]` after other text is not this key's bracket and stays.
        CompletionCase{"BracketFarAway", "[[[d^]] x]", {kDesc}},
        CompletionCase{"BracketAfterText", "a [h^", {}},
        CompletionCase{"OtherCharacter", "b() $x^", {}},
        CompletionCase{"StartOfDocument", "^", {}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(Keyword, Completion,
                         ::testing::Values(CompletionCase{"Prefix", "[[gr^]]", {kGroup}},
                                           CompletionCase{"Indented", "  [[g^]]", {kGroup}},
                                           CompletionCase{"Complete", "[[group^]]", {kGroup}},
                                           CompletionCase{"OtherWord", "build^", {}},
                                           CompletionCase{"Longer", "groups^", {}}),
                         case_name);

// The dependency cases share one document: top-level tasks build, bench and lint (build
// defined twice), groups bots and ci (ci opened twice), and ci.build inside a group.
#define DOC                                                                               \
  "build:\n    make\nbuild(x) ? @os(\"linux\"):\n    make\nbench:\n    b\ngroup bots {\n" \
  "beep:\n    b\n}\nlint:\n    l\ngroup ci {\nbuild:\n    c\nbundle:\n    c\n}\n"         \
  "group ci {\ntest:\n    t\n}\n"

INSTANTIATE_TEST_SUITE_P(
    Dependencies, Completion,
    ::testing::Values(
        CompletionCase{"PrefixOffersTopLevelTasksThenGroups",
                       DOC "deploy() & [[b^]]\n",
                       {task("build"), task("bench"), group("bots")}},
        CompletionCase{"EmptyName",
                       DOC "deploy(a) ? @os(\"x\") &[[^]]",
                       {task("build"), task("bench"), task("lint"), group("bots"), group("ci")}},
        CompletionCase{"Dotted",
                       DOC "deploy() & ci.[[b^]]",
                       {grouped("build", "ci"), grouped("bundle", "ci")}},
        CompletionCase{"DottedAcrossReopenedGroup",
                       DOC "deploy() & ci.[[^]]",
                       {grouped("build", "ci"), grouped("bundle", "ci"), grouped("test", "ci")}},
        CompletionCase{"SecondClause", DOC "deploy() & lint & [[li^]]", {task("lint")}},
        CompletionCase{"ParallelList", DOC "deploy() & (lint, b^", {}},
        CompletionCase{"Arguments", DOC "deploy() & build(\"x^", {}},
        // Every definition of the task being edited is left out.
        CompletionCase{
            "EditedTaskNeverOffered", DOC "build() & [[b^]]", {task("bench"), group("bots")}},
        CompletionCase{"TextBeforeAmpersandNotAHeader", DOC "echo a & b^", {}},
        // The header on the line above; the task being edited is the one that ends there.
        CompletionCase{"ClauseBelowHeader", DOC "lint2(x)\n    & [[l^]]\n", {task("lint")}},
        // Without its header line the edited task's body joins the task above; that task is
        // still a dependency to offer.
        CompletionCase{"TaskAboveWithBodyBelow",
                       "bench:\n    b\ndeploy() & [[b^]]\n    echo one\n    echo two\n",
                       {task("bench")}}),
    case_name);

#undef DOC

}  // namespace
}  // namespace quib::lsp
