// Diagnostics raised while lowering: versions, variables, other directives, placement and
// groups. One table per family; every row states code, exact message, stage and range.
#include "diagnostic_case.h"

namespace quib::testing_support {
namespace {

constexpr auto kSyntax = DiagnosticStage::Syntax;
constexpr auto kLowering = DiagnosticStage::Lowering;
constexpr auto kCheck = DiagnosticStage::Check;

constexpr std::string_view kVersionFormat = "use `!version A.B`, for example `!version 0.1`";
constexpr std::string_view kVersionZero =
    "`!version 0.0` is not allowed\nhelp: use `!version 0.1` or remove this line";
constexpr std::string_view kTooLarge = "the version number is too large";
constexpr std::string_view kVarFormat = "use `!var name = \"value\"`";
constexpr std::string_view kNotString = "variable value must be a string";

class VersionDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(VersionDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Lowering, VersionDiagnostics,
    testing::Values(
        DiagnosticCase{"Valid", "!version 0.1\n", {}},
        DiagnosticCase{"AfterComment", "# first\n!version 12.0\n", {}},
        DiagnosticCase{"LargestAcceptedMajor", "!version 18446744073709551614.7\n", {}},
        DiagnosticCase{"ZeroZero",
                       "[[!version 0.0\n]]",
                       {{"version.pre-0.1-unsupported", kVersionZero, kSyntax}}},
        DiagnosticCase{"LeadingZero",
                       "[[!version 00.1\n]]",
                       {{"version.invalid-format", kVersionFormat, kSyntax}}},
        DiagnosticCase{
            "NoMinor", "[[!version 1\n]]", {{"version.invalid-format", kVersionFormat, kSyntax}}},
        DiagnosticCase{"ThreeParts",
                       "[[!version 1.2.3\n]]",
                       {{"version.invalid-format", kVersionFormat, kSyntax}}},
        DiagnosticCase{
            "NoMajor", "[[!version .5\n]]", {{"version.invalid-format", kVersionFormat, kSyntax}}},
        DiagnosticCase{
            "EmptyMinor", "[[!version 1.]]", {{"version.invalid-format", kVersionFormat, kSyntax}}},
        DiagnosticCase{"InnerSpace",
                       "[[!version 0. 1\n]]",
                       {{"version.invalid-format", kVersionFormat, kSyntax}}},
        DiagnosticCase{"MajorOverflow",
                       "[[!version 99999999999999999999.0\n]]",
                       {{"version.range-overflow", kTooLarge, kSyntax}}},
        DiagnosticCase{"MinorOverflow",
                       "[[!version 0.18446744073709551616\n]]",
                       {{"version.range-overflow", kTooLarge, kSyntax}}},
        DiagnosticCase{"MajorAtLimit",
                       "[[!version 18446744073709551615.0\n]]",
                       {{"version.range-overflow", kTooLarge, kSyntax}}},
        // Without a value the directive is unreadable (stage 2), not malformed (stage 1).
        DiagnosticCase{
            "NoValue", "[[!version\n]]", {{"version.invalid-format", kVersionFormat, kLowering}}},
        DiagnosticCase{"Duplicate",
                       "!version 0.1\n[[!version 0.2\n]]",
                       {{"version.duplicate", "`!version` is used more than once", kCheck}}},
        DiagnosticCase{"DuplicateStillValidated",
                       "!version 0.1\n[[!version 0.0\n]]",
                       {{"version.duplicate", "`!version` is used more than once", kCheck},
                        {"version.pre-0.1-unsupported", kVersionZero, kSyntax, 0}}},
        DiagnosticCase{"AfterMetadata",
                       "[help] x\n[[!version 0.1\n]]",
                       {{"version.not-first-declaration",
                         "`!version` must come before all other declarations", kCheck}}},
        DiagnosticCase{"AfterVariable",
                       "!var a = \"1\"\n[[!version 0.1\n]]",
                       {{"version.not-first-declaration",
                         "`!version` must come before all other declarations", kCheck}}}),
    case_name);

class VariableDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(VariableDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Lowering, VariableDiagnostics,
    testing::Values(
        DiagnosticCase{"Valid", "!var name = \"value\"\n", {}},
        DiagnosticCase{"DashStart", "!var -x = \"v\"\n", {}},
        DiagnosticCase{"EmptyValue", "!var x = \"\"\n", {}},
        DiagnosticCase{"NoSpaces", "!var x=\"v\"\n", {}},
        DiagnosticCase{"DigitStart",
                       "[[!var 1x = \"v\"\n]]",
                       {{"variable.invalid-name", "variable name is invalid", kLowering}}},
        DiagnosticCase{"EmptyName",
                       "[[!var = \"v\"\n]]",
                       {{"variable.invalid-name", "variable name is invalid", kLowering}}},
        DiagnosticCase{"TwoWords",
                       "[[!var a b = \"v\"\n]]",
                       {{"variable.invalid-name", "variable name is invalid", kLowering}}},
        DiagnosticCase{
            "Unquoted", "[[!var x = v\n]]", {{"variable.non-literal", kNotString, kLowering}}},
        DiagnosticCase{
            "LoneQuote", "[[!var x = \"\n]]", {{"variable.non-literal", kNotString, kLowering}}},
        DiagnosticCase{"NoValueAfterEquals",
                       "[[!var x =\n]]",
                       {{"variable.non-literal", kNotString, kLowering}}},
        DiagnosticCase{
            "NoEquals", "[[!var x \"v\"\n]]", {{"variable.non-literal", kVarFormat, kLowering}}},
        DiagnosticCase{
            "NoArguments", "[[!var\n]]", {{"variable.non-literal", kVarFormat, kLowering}}},
        DiagnosticCase{
            "AfterTask",
            "build:\n    echo\n[[!var x = \"v\"\n]]",
            {{"variable.directive-placement", "`!var` must be near the top of the file", kCheck}}},
        // Placement is judged before the value, so a broken late `!var` gets both.
        DiagnosticCase{
            "AfterGroupAndBroken",
            "group ci {\n}\n[[!var 1 = \"v\"\n]]",
            {{"variable.directive-placement", "`!var` must be near the top of the file", kCheck},
             {"variable.invalid-name", "variable name is invalid", kLowering, 0}}},
        DiagnosticCase{
            "Repeated",
            "[[!var a = \"1\"\n]][[!var a = \"2\"\n]]",
            {{"variable.duplicate", "variable 'a' is used more than once", kCheck, 0, 1}}},
        // Each repeat spans from the previous definition, not the first.
        DiagnosticCase{
            "RepeatedThrice",
            "[[!var a = \"1\"\n]][[!var a = \"2\"\n]]!var b = \"x\"\n[[!var a = \"3\"\n]]",
            {{"variable.duplicate", "variable 'a' is used more than once", kCheck, 0, 1},
             {"variable.duplicate", "variable 'a' is used more than once", kCheck, 1, 2}}}),
    case_name);

class DirectiveDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(DirectiveDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Lowering, DirectiveDiagnostics,
    testing::Values(
        DiagnosticCase{"KnownShell", "!shell  bash\n", {}},
        DiagnosticCase{"Unsupported",
                       "[[!os linux\n]]",
                       {{"lower.invalid-directive", "`!os` is not supported", kLowering}}},
        DiagnosticCase{"UnsupportedBare",
                       "[[!env]]",
                       {{"lower.invalid-directive", "`!env` is not supported", kLowering}}},
        DiagnosticCase{"ShellWithoutValue",
                       "[[!shell\n]]",
                       {{"lower.invalid-directive", "`!shell` needs a value", kLowering}}},
        DiagnosticCase{"UnknownShell",
                       "[[!shell zsh\n]]",
                       {{"semantic.unknown-shell",
                         "shell 'zsh' is not supported; use 'deno', 'bash', 'sh', 'pwsh', or "
                         "'powershell'",
                         kCheck}}},
        DiagnosticCase{
            "RepeatedShell",
            "[[!shell bash\n]]!var a = \"1\"\n# c\n\n[[!shell sh\n]]\n\n\n\n[[!shell "
            "zsh\n]]",
            {{"semantic.unknown-shell",
              "shell 'zsh' is not supported; use 'deno', 'bash', 'sh', 'pwsh', or "
              "'powershell'",
              kCheck, 2},
             {"semantic.duplicate-directive", "`!shell` is used more than once", kCheck, 0, 1},
             {"semantic.duplicate-directive", "`!shell` is used more than once", kCheck, 1, 2}}}),
    case_name);

class GroupDiagnostics : public testing::TestWithParam<DiagnosticCase> {};
TEST_P(GroupDiagnostics, Match) {
  expect_diagnostics(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Lowering, GroupDiagnostics,
    testing::Values(
        DiagnosticCase{"OpenClose", "group ci {\n}\n", {}},
        DiagnosticCase{"CloseWithoutOpen",
                       "[[}\n]]",
                       {{"namespace.close-without-open", "there is no group to close", kCheck}}},
        // Groups do not nest: the first `}` closes b and leaves nothing open.
        DiagnosticCase{"ReplacedGroup",
                       "group a {\ngroup b {\n}\n[[}\n]]",
                       {{"namespace.close-without-open", "there is no group to close", kCheck}}},
        DiagnosticCase{
            "TaskNamedLikeGroup",
            "ci:\n    echo\n[[group ci {\n]]}\n",
            {{"semantic.namespace-conflict", "task and group cannot both be named 'ci'", kCheck}}},
        DiagnosticCase{"GroupedTaskDoesNotConflict",
                       "build:\n    echo\ngroup ci {\n    build():\n        echo\n}\n",
                       {}},
        DiagnosticCase{"EmptyBody",
                       "build[[:]]\n",
                       {{"semantic.empty-task-body",
                         "task body is empty; add a command or remove ':'", kCheck}}},
        DiagnosticCase{"EmptyBodyBeforeNextTask",
                       "a[[:]]\nb:\n    echo\n",
                       {{"semantic.empty-task-body",
                         "task body is empty; add a command or remove ':'", kCheck}}},
        DiagnosticCase{"NoColonNoBody", "build & test\ntest:\n    echo\n", {}},
        DiagnosticCase{"GuardedWithoutBody", "build ? @os(\"linux\"):\n", {}},
        DiagnosticCase{"CommentOnlyBody",
                       "build[[:]]\n    # nothing\n",
                       {{"semantic.empty-task-body",
                         "task body is empty; add a command or remove ':'", kCheck}}}),
    case_name);

}  // namespace
}  // namespace quib::testing_support
