// Diagnostics of the whole-file checks: metadata, parameters, shells, guards, dependencies,
// interpolations and repeated tasks. One table per family.
#include "diagnostic_case.h"

namespace quib::testing_support {
namespace {

constexpr auto kCheck = DiagnosticStage::Check;

class MetadataDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(MetadataDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Checks, MetadataDiagnostics,
    testing::Values(
        DiagnosticCase{"Empty", "", {}},
        DiagnosticCase{
            "AllKnownKeys", "[help] a\n[desc] b\n[pass] c\n[fail] d\nt:\n    echo\n", {}},
        DiagnosticCase{"TwoHelps",
                       "[help] a\n[help] [[b]]\nt:\n    echo\n",
                       {{"semantic.duplicate-help", "`[help]` can be used only once", kCheck}}},
        DiagnosticCase{"ThreeHelpsOneDiagnostic",
                       "[help] a\n[help]   [[second]]  \n[help] c\nt:\n    echo\n",
                       {{"semantic.duplicate-help", "`[help]` can be used only once", kCheck}}},
        DiagnosticCase{
            "UnknownKeyEachTime",
            "[team] x\n[team] y\n[[t:\n    echo\n]]",
            {{"semantic.unknown-metadata-field",
              "unknown metadata field `team`; expected help, desc, pass, or fail", kCheck, 0},
             {"semantic.unknown-metadata-field",
              "unknown metadata field `team`; expected help, desc, pass, or fail", kCheck, 0}}},
        DiagnosticCase{"BlankLineDetaches", "[team] x\n\nt:\n    echo\n", {}},
        DiagnosticCase{"WhitespaceLineDetaches", "[team] x\n  \t\r\nt:\n    echo\n", {}},
        DiagnosticCase{"DirectiveDetaches", "[team] x\n!var a = \"1\"\nt:\n    echo\n", {}},
        DiagnosticCase{"ErrorItemDetaches",
                       "[team] x\n[[$]]\nt:\n    echo\n",
                       {{"parse.unexpected-token", "unexpected text", DiagnosticStage::Syntax}}},
        DiagnosticCase{
            "CommentLineKeeps",
            "[team] x\n# note\n[[t:\n    echo\n]]",
            {{"semantic.unknown-metadata-field",
              "unknown metadata field `team`; expected help, desc, pass, or fail", kCheck}}},
        DiagnosticCase{"GroupResultOnce",
                       "[pass] p\n[fail] f\n[[group ci {\n]]}\n",
                       {{"semantic.group-result-metadata",
                         "`[pass]` and `[fail]` are only valid on tasks", kCheck}}},
        DiagnosticCase{"ParameterInHelp",
                       "[help] deploy {{ target }}\n[[t(target):\n    echo\n]]",
                       {{"semantic.metadata-variable",
                         "help can only use a global variable named 'target'", kCheck}}},
        DiagnosticCase{"GlobalInHelp", "!var v = \"1\"\n[help] uses {{ v }}\nt:\n    echo\n", {}},
        DiagnosticCase{"GroupTextsInKeyOrder",
                       "[fail] {{ b }}\n[help] {{ a }}\n[[group g {\n]]}\n",
                       {{"semantic.group-result-metadata",
                         "`[pass]` and `[fail]` are only valid on tasks", kCheck},
                        {"semantic.metadata-variable",
                         "help can only use a global variable named 'a'", kCheck, 0},
                        {"semantic.metadata-variable",
                         "fail can only use a global variable named 'b'", kCheck, 0}}},
        // Inherited texts are checked again on every definition; help ranges are not inherited.
        DiagnosticCase{
            "InheritedDesc",
            "[help] a\n[help] [[b]]\n[desc] {{ x }}\n[[t(p):\n    echo\n]][[t(q):\n    echo\n]]",
            {{"semantic.duplicate-help", "`[help]` can be used only once", kCheck},
             {"semantic.metadata-variable", "desc can only use a global variable named 'x'",
              kCheck},
             {"semantic.metadata-variable", "desc can only use a global variable named 'x'",
              kCheck}}}),
    case_name);

class ParameterDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(ParameterDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Checks, ParameterDiagnostics,
    testing::Values(
        DiagnosticCase{"Valid", "t(a, b=\"x\", rest..):\n    echo\n", {}},
        DiagnosticCase{"ThreeTimes",
                       "[[t(a, a, a):\n    echo\n]]",
                       {{"semantic.duplicate-parameter",
                         "parameter 'a' is used more than once in task 't'", kCheck, 0},
                        {"semantic.duplicate-parameter",
                         "parameter 'a' is used more than once in task 't'", kCheck, 0}}},
        DiagnosticCase{"SliceNotLast",
                       "group g {\n    [[t(rest.., b):\n        echo\n]]}\n",
                       {{"semantic.slice-parameter-position",
                         "slice parameter 'rest..' must be last in task 'g.t'", kCheck}}},
        DiagnosticCase{"SliceDefaultEvenLast",
                       "[[t(a, rest..=\"x\"):\n    echo\n]]",
                       {{"semantic.slice-parameter-default",
                         "slice parameter 'rest..' cannot have a default", kCheck}}},
        DiagnosticCase{"SliceBothRules",
                       "[[t(rest..=\"x\", b):\n    echo\n]]",
                       {{"semantic.slice-parameter-position",
                         "slice parameter 'rest..' must be last in task 't'", kCheck, 0},
                        {"semantic.slice-parameter-default",
                         "slice parameter 'rest..' cannot have a default", kCheck, 0}}}),
    case_name);

class ShellAndGuardDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(ShellAndGuardDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Checks, ShellAndGuardDiagnostics,
    testing::Values(
        DiagnosticCase{"FallbackBash", "t shell~=bash:\n    echo\n", {}},
        DiagnosticCase{"FallbackPwsh", "t shell~=pwsh:\n    echo\n", {}},
        DiagnosticCase{"RequiredDeno", "t shell=deno:\n    echo\n", {}},
        DiagnosticCase{"FallbackDeno",
                       "t [[shell~=deno]]:\n    echo\n",
                       {{"semantic.invalid-shell-fallback",
                         "shell 'deno' has no fallback; use `shell=deno`", kCheck}}},
        DiagnosticCase{"UnknownClauseShell",
                       "t [[shell~=zsh]]:\n    echo\n",
                       {{"semantic.unknown-shell",
                         "shell 'zsh' is not supported; use 'deno', 'bash', 'sh', 'pwsh', or "
                         "'powershell'",
                         kCheck}}},
        DiagnosticCase{
            "DifferentArguments", "t ? @os(\"linux\") ? @os(\"macos\"):\n    echo\n", {}},
        DiagnosticCase{
            "RepeatedGuard",
            "t ? @os(\"linux\") [[? @os(\"linux\")]]:\n    echo\n",
            {{"semantic.duplicate-guard", "guard '@os(\"linux\")' is repeated", kCheck}}},
        DiagnosticCase{
            "UnknownGuardTakesPart",
            "t [[? @cpu(\"x\")]] [[? @cpu(\"x\")]]:\n    echo\n",
            {{"semantic.unknown-guard",
              "guard '@cpu' is not supported; use '@os', '@arch', '@env', or '@has'", kCheck, 0},
             {"semantic.unknown-guard",
              "guard '@cpu' is not supported; use '@os', '@arch', '@env', or '@has'", kCheck, 1},
             {"semantic.duplicate-guard", "guard '@cpu(\"x\")' is repeated", kCheck, 1}}}),
    case_name);

class DependencyDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(DependencyDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Checks, DependencyDiagnostics,
    testing::Values(
        DiagnosticCase{"Resolved", "a:\n    echo\nb & a:\n    echo\n", {}},
        DiagnosticCase{"ForwardReference", "b & a:\n    echo\na:\n    echo\n", {}},
        DiagnosticCase{
            "Missing",
            "b & [[c]]:\n    echo\n",
            {{"semantic.undefined-dependency", "task 'b' depends on missing task 'c'", kCheck}}},
        DiagnosticCase{
            "Repeated",
            "a:\n    echo\nb & a & [[a]]:\n    echo\n",
            {{"semantic.duplicate-dependency", "dependency 'a' is repeated in task 'b'", kCheck}}},
        DiagnosticCase{
            "RepeatedInParallelClause",
            "a:\n    echo\nb & (a, [[a]]):\n    echo\n",
            {{"semantic.duplicate-dependency", "dependency 'a' is repeated in task 'b'", kCheck}}},
        DiagnosticCase{
            "MissingAndRepeated",
            "b & [[c]] & [[c]]:\n    echo\n",
            {{"semantic.undefined-dependency", "task 'b' depends on missing task 'c'", kCheck},
             {"semantic.undefined-dependency", "task 'b' depends on missing task 'c'", kCheck},
             {"semantic.duplicate-dependency", "dependency 'c' is repeated in task 'b'", kCheck,
              1}}},
        DiagnosticCase{
            "SiblingInGroup",
            "group ci {\n    test():\n        echo\n    build() & test & [[lint]]:\n        "
            "echo\n}\n",
            {{"semantic.undefined-dependency", "task 'ci.build' depends on missing task 'lint'",
              kCheck}}},
        DiagnosticCase{
            "OtherGroupNeedsQualification",
            "group a {\n    x():\n        echo\n}\ngroup b {\n    y() & [[x]] & a.x:\n        "
            "echo\n}\n",
            {{"semantic.undefined-dependency", "task 'b.y' depends on missing task 'x'", kCheck}}},
        DiagnosticCase{
            "GroupIsNoTask",
            "group ci {\n}\nb & [[ci]]:\n    echo\n",
            {{"semantic.undefined-dependency", "task 'b' depends on missing task 'ci'", kCheck}}}),
    case_name);

class InterpolationDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(InterpolationDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Checks, InterpolationDiagnostics,
    testing::Values(
        DiagnosticCase{"ParameterAndGlobal", "!var v = \"1\"\nt(p):\n    echo {{ p }} {{v}}\n", {}},
        DiagnosticCase{"Escaped", "t:\n    echo \\{{ x }}\n", {}},
        DiagnosticCase{"SingleLine",
                       "t(p):\n    echo {{ p }} [[{{ q }}]]\n",
                       {{"semantic.undefined-variable", "variable 'q' is not defined", kCheck}}},
        DiagnosticCase{"OtherTasksParameter",
                       "a(p):\n    echo {{ p }}\nb:\n    echo [[{{p}}]]\n",
                       {{"semantic.undefined-variable", "variable 'p' is not defined", kCheck}}},
        DiagnosticCase{
            "BlockLines",
            "t(a):\n    | echo {{ a }}\n    |\n    | x [[{{ b }}]]\n    |\ty [[{{c}}]] z\n",
            {{"semantic.undefined-variable", "variable 'b' is not defined", kCheck},
             {"semantic.undefined-variable", "variable 'c' is not defined", kCheck}}},
        DiagnosticCase{"BlockWithCrLf",
                       "t:\r\n  | a\r\n  | ¥ [[{{ z }}]]\r\n",
                       {{"semantic.undefined-variable", "variable 'z' is not defined", kCheck}}},
        // A reference may run across block lines; its range runs from `{{` to `}}` in place.
        DiagnosticCase{"AcrossBlockLines",
                       "t:\n    | go [[{{ x\n    | }}]]\n",
                       {{"semantic.undefined-variable", "variable 'x' is not defined", kCheck}}},
        DiagnosticCase{"BlockThenSingleLine",
                       "t:\n    | a\n    | b\n    [[{{ s }}]]\n",
                       {{"semantic.undefined-variable", "variable 's' is not defined", kCheck}}}),
    case_name);

class RepeatedTaskDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(RepeatedTaskDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Checks, RepeatedTaskDiagnostics,
    testing::Values(
        DiagnosticCase{"DifferentParameters", "t(a):\n    echo\nt(a, b):\n    echo\n", {}},
        DiagnosticCase{"DifferentDefaults", "t(a=\"1\"):\n    echo\nt(a=\"2\"):\n    echo\n", {}},
        DiagnosticCase{"SameParameters",
                       "t(a):\n    echo\n[[t(a):\n    echo\n]]",
                       {{"semantic.duplicate-task", "task 't' is defined more than once", kCheck}}},
        DiagnosticCase{"DifferentGuards",
                       "t ? @os(\"linux\"):\n    echo\nt ? @os(\"macos\"):\n    echo\n",
                       {}},
        DiagnosticCase{
            "GuardsInOtherOrder",
            "t ? @os(\"a\") ? @arch(\"b\"):\n    echo\nt ? @arch(\"b\") ? @os(\"a\"):\n    echo\n",
            {}},
        DiagnosticCase{
            "SameGuard",
            "t ? @os(\"linux\"):\n    echo\n[[t ? @os(\"linux\"):\n    echo\n]]",
            {{"semantic.ambiguous-guard", "task 't' has the same guard more than once", kCheck},
             {"semantic.duplicate-task", "task 't' is defined more than once", kCheck, 0}}},
        DiagnosticCase{
            "SameGuardOtherParameters",
            "t ? @os(\"linux\"):\n    echo\n[[t(x) ? @os(\"linux\"):\n    echo\n]]",
            {{"semantic.ambiguous-guard", "task 't' has the same guard more than once", kCheck}}},
        DiagnosticCase{
            "SameNameOtherGroups",
            "group a {\n    t():\n        echo\n}\ngroup b {\n    t():\n        echo\n}\nt:\n    "
            "echo\n",
            {}},
        // Parameter texts that only look alike once joined are different signatures.
        DiagnosticCase{"JoinedTextsDoNotCollide",
                       "t(a=\"x,b\"):\n    echo\nt(a=\"x\", b):\n    echo\n"
                       "u ? @os(\"a?os:b\"):\n    echo\nu ? @os(\"a\") ? @os(\"b\"):\n    echo\n",
                       {}}),
    case_name);

// A file with thousands of tasks has its tasks checked on two threads, a chunk at a time; the
// findings still come in check order (directives, tasks in task order, each task's in check
// order, then the file-wide checks), and the file-wide checks still see every task.
TEST(ManyTasks, FindingsFollowTaskOrder) {
  constexpr int kTasks = 5000;
  std::string text = "!shell zsh\n!var a = \"1\"\n!var a = \"2\"\n";
  for (int i = 0; i < kTasks; ++i) {
    const std::string n = std::to_string(i);
    text += "t" + n + " & missing" + n + " & t0:\n    echo {{ v" + n + " }}\n";
  }
  text += "t0:\n    echo\n";
  const SemanticModel model = analyze(parse(text));
  ASSERT_EQ(model.diagnostics.size(), 2u * kTasks + 3);
  EXPECT_EQ(model.diagnostics.front().code, "semantic.unknown-shell");
  for (int i = 0; i < kTasks; ++i) {
    const std::string n = std::to_string(i);
    const Diagnostic& dependency = model.diagnostics[2 * i + 1];
    const Diagnostic& variable = model.diagnostics[2 * i + 2];
    ASSERT_EQ(dependency.message, "task 't" + n + "' depends on missing task 'missing" + n + "'");
    ASSERT_EQ(variable.message, "variable 'v" + n + "' is not defined");
    ASSERT_LT(dependency.range.start, variable.range.start);
  }
  EXPECT_EQ(model.diagnostics[2 * kTasks + 1].code, "variable.duplicate");
  EXPECT_EQ(model.diagnostics.back().code, "semantic.duplicate-task");
}

}  // namespace
}  // namespace quib::testing_support
