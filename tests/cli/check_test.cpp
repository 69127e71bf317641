// `quib check` through the real binary: the text and JSON forms, exit statuses, and files
// that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <string>
#include <string_view>

#include "quib_process.h"

namespace quib::cli::testing {
namespace {

namespace json = boost::json;

// `¥` is two bytes and one UTF-16 unit, `😂` four bytes and two units, so the column of `{{`
// differs in bytes (16), characters (12) and UTF-16 units (13), zero-based.
constexpr std::string_view kTwoErrors =
    "# naïve\n"
    "!version 0.0\n"
    "build():\n"
    "    echo ¥😂 {{ x }} ok\n";

constexpr std::string_view kClean =
    "!var a = \"x\"\n"
    "\n"
    "build():\n"
    "    echo {{ a }}\n";

TEST(CheckTextTest, PrintsLocationAdviceAndCaretsInCharacters) {
  ScratchDir dir;
  dir.write("Quibfile", kTwoErrors);
  const QuibRun run = run_quib({"check"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  // The version error's range runs into the next line: carets cover its first line only.
  EXPECT_EQ(run.out,
            "Quibfile:2:1: error[version.pre-0.1-unsupported]: `!version 0.0` is not allowed\n"
            "  help: use `!version 0.1` or remove this line\n"
            "  2 | !version 0.0\n"
            "    | ^^^^^^^^^^^^\n"
            "Quibfile:4:13: error[semantic.undefined-variable]: variable 'x' is not defined\n"
            "  4 |     echo ¥😂 {{ x }} ok\n"
            "    |             ^^^^^^^\n");
}

struct ExcerptCase {
  const char* name;
  std::string_view text;
  std::string_view expected;
};

class CheckExcerptTest : public ::testing::TestWithParam<ExcerptCase> {};

TEST_P(CheckExcerptTest, ShowsTheLineAndUnderlinesTheRange) {
  ScratchDir dir;
  dir.write("f", GetParam().text);
  const QuibRun run = run_quib({"check", "f"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckExcerptTest,
    ::testing::Values(
        // Tabs are repeated under the source so the carets line up at any tab width.
        ExcerptCase{"Tab", "build():\n\techo {{ x }}\n",
                    "f:2:7: error[semantic.undefined-variable]: variable 'x' is not defined\n"
                    "  2 | \techo {{ x }}\n"
                    "    | \t     ^^^^^^^\n"},
        // The CR of a CRLF line is not printed.
        ExcerptCase{"CrLf", "build():\r\n    echo {{ x }}\r\n",
                    "f:2:10: error[semantic.undefined-variable]: variable 'x' is not defined\n"
                    "  2 |     echo {{ x }}\n"
                    "    |          ^^^^^^^\n"},
        // A range that runs over the line break underlines the visible line only.
        ExcerptCase{"CrLfRangeIntoNextLine", "!version 0.0\r\n",
                    "f:1:1: error[version.pre-0.1-unsupported]: `!version 0.0` is not allowed\n"
                    "  help: use `!version 0.1` or remove this line\n"
                    "  1 | !version 0.0\n"
                    "    | ^^^^^^^^^^^^\n"},
        ExcerptCase{"LastLineWithoutNewline", "build():\n    echo {{ x }}",
                    "f:2:10: error[semantic.undefined-variable]: variable 'x' is not defined\n"
                    "  2 |     echo {{ x }}\n"
                    "    |          ^^^^^^^\n"},
        // The gutter grows with the line number.
        ExcerptCase{"TwoDigitLine", "\n\n\n\n\n\n\n\n\nbuild():\n    echo {{ x }}\n",
                    "f:11:10: error[semantic.undefined-variable]: variable 'x' is not defined\n"
                    "  11 |     echo {{ x }}\n"
                    "     |          ^^^^^^^\n"}),
    [](const auto& info) { return std::string(info.param.name); });

std::string repeated(std::string_view piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// A line longer than a screenful is shown as a window around the range, cut at character
// boundaries and marked where it is cut; the column still counts from the line's start.
TEST(CheckTextTest, LongLinesShowAWindowAroundTheRange) {
  ScratchDir dir;
  dir.write("middle",
            "build():\n    echo " + repeated("é", 100) + " {{ x }} " + repeated("a", 200) + "\n");
  EXPECT_EQ(run_quib({"check", "middle"}, dir.path()).out,
            "middle:2:111: error[semantic.undefined-variable]: variable 'x' is not defined\n"
            "  2 | ..." +
                repeated("é", 29) + " {{ x }} " + repeated("a", 93) +
                "...\n"
                "    |    " +
                std::string(30, ' ') + "^^^^^^^\n");

  dir.write("start", "build():\n    echo {{ x }} " + repeated("a", 300) + "\n");
  EXPECT_EQ(run_quib({"check", "start"}, dir.path()).out,
            "start:2:10: error[semantic.undefined-variable]: variable 'x' is not defined\n"
            "  2 |     echo {{ x }} " +
                repeated("a", 143) +
                "...\n"
                "    |          ^^^^^^^\n");
}

// Thousands of diagnostics on one line print a window each, not the line each time.
TEST(CheckTextTest, ManyDiagnosticsOnOneLongLineStayShort) {
  ScratchDir dir;
  dir.write("digits", std::string(5000, '1'));
  const QuibRun run = run_quib({"check", "digits"}, dir.path());
  EXPECT_EQ(run.status, 1);
  size_t lines = 0;
  size_t longest = 0;
  for (size_t from = 0; from < run.out.size();) {
    const size_t end = run.out.find('\n', from);
    longest = std::max(longest, end - from);
    ++lines;
    from = end + 1;
  }
  EXPECT_EQ(lines, 3u * 5000);
  EXPECT_LE(longest, 200u);
  EXPECT_NE(run.out.find("digits:1:5000: error[parse.unexpected-token]"), std::string::npos);
}

TEST(CheckJsonTest, GivesProtocolPositionsWithUtf16Columns) {
  ScratchDir dir;
  dir.write("a", kTwoErrors);
  dir.write("b", kClean);
  const QuibRun run = run_quib({"check", "--format", "json", "a", "b"}, dir.path());
  EXPECT_EQ(run.status, 1);
  const json::value expected = json::parse(R"([
    {"path": "a", "severity": 1, "code": "version.pre-0.1-unsupported",
     "message": "`!version 0.0` is not allowed\nhelp: use `!version 0.1` or remove this line",
     "range": {"start": {"line": 1, "character": 0}, "end": {"line": 2, "character": 0}}},
    {"path": "a", "severity": 1, "code": "semantic.undefined-variable",
     "message": "variable 'x' is not defined",
     "range": {"start": {"line": 3, "character": 13}, "end": {"line": 3, "character": 20}}}
  ])");
  EXPECT_EQ(json::parse(run.out), expected);
}

TEST(CheckJsonTest, CleanFilesGiveAnEmptyArrayAndStdinIsNamed) {
  ScratchDir dir;
  QuibRun run = run_quib({"check", "--format=json", "-"}, dir.path(), kClean);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "[]\n");

  run = run_quib({"check", "--format=json", "-"}, dir.path(), "build():\n    echo {{ x }}\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(json::parse(run.out).as_array().at(0).at("path"), "<stdin>");
}

struct StatusCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string_view out_prefix;  // what stdout starts with
  std::string_view err_part;    // what stderr contains ("" means stderr is empty)
};

class QuibStatusTest : public ::testing::TestWithParam<StatusCase> {};

// Every case runs in a directory holding `Quibfile` (clean), `clean` and `broken`.
TEST_P(QuibStatusTest, ExitsWithTheDocumentedStatus) {
  ScratchDir dir;
  dir.write("Quibfile", kClean);
  dir.write("clean", kClean);
  dir.write("broken", kTwoErrors);
  const QuibRun run = run_quib(GetParam().args, dir.path());
  EXPECT_EQ(run.status, GetParam().status);
  EXPECT_TRUE(run.out.starts_with(GetParam().out_prefix)) << run.out;
  if (GetParam().err_part.empty()) {
    EXPECT_EQ(run.err, "");
  } else {
    EXPECT_NE(run.err.find(GetParam().err_part), std::string::npos) << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuibStatusTest,
    ::testing::Values(
        StatusCase{"DefaultPathIsQuibfile", {"check"}, 0, "", ""},
        StatusCase{"CleanFiles", {"check", "clean", "Quibfile"}, 0, "", ""},
        StatusCase{"Diagnostics", {"check", "clean", "broken"}, 1, "broken:2:1: error[", ""},
        StatusCase{"OptionsAfterDoubleDash", {"check", "--", "--help"}, 2, "", "'--help'"},
        StatusCase{"Version", {"--version"}, 0, "0.5.2\n", ""},
        StatusCase{"Help", {"--help"}, 0, "usage: quib <command>", ""},
        StatusCase{"CheckHelp", {"check", "--help"}, 0, "usage: quib check", ""},
        StatusCase{"FmtHelp", {"fmt", "-h"}, 0, "usage: quib fmt", ""},
        StatusCase{"NoCommand", {}, 2, "", "usage: quib <command>"},
        StatusCase{"UnknownCommand", {"lint"}, 2, "", "unknown command 'lint'"},
        StatusCase{"UnknownOption", {"check", "--fix"}, 2, "", "unknown option '--fix'"},
        StatusCase{"FmtOptionOnCheck", {"check", "--diff"}, 2, "", "unknown option '--diff'"},
        StatusCase{"BadFormat", {"check", "--format", "xml"}, 2, "", "unknown format 'xml'"},
        StatusCase{"MissingFormat", {"check", "--format"}, 2, "", "needs a value"},
        StatusCase{"StdinTwice", {"check", "-", "-"}, 2, "", "only once"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckUnreadableTest, NamesEachPathAndStillChecksTheOthers) {
  ScratchDir dir;
  dir.write("broken", kTwoErrors);
  std::filesystem::create_directory(dir.path() / "folder");
  const QuibRun run = run_quib({"check", "missing", "folder", "broken"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "quib: cannot read 'missing': No such file or directory\n"
            "quib: cannot read 'folder': Is a directory\n");
  EXPECT_TRUE(run.out.starts_with("broken:2:1: error[version.pre-0.1-unsupported]")) << run.out;
}

TEST(CheckUnreadableTest, MissingDefaultFileIsNamed) {
  ScratchDir dir;
  const QuibRun run = run_quib({"check"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "quib: cannot read 'Quibfile': No such file or directory\n");
}

}  // namespace
}  // namespace quib::cli::testing
