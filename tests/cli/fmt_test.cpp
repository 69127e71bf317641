// `quib fmt` through the real binary: in-place writing (atomic, mode kept, only on change),
// --check, --diff, standard input, and files it must leave alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "quib_process.h"

namespace quib::cli::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMessy =
    "!var a=\"x\"\n"
    "\n"
    "\n"
    "build():\n"
    "  echo {{ a }}\n";

constexpr std::string_view kFormatted =
    "!var a = \"x\"\n"
    "\n"
    "build():\n"
    "    echo {{a}}\n";

// Messy layout and an undefined variable: must never be rewritten.
constexpr std::string_view kBroken =
    "build():\n"
    "  echo {{ nope }}\n";

struct stat stat_of(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info;
}

TEST(FmtInPlaceTest, RewritesKeepingTheModeAndLeavingNoTemporaryFile) {
  ScratchDir dir;
  dir.write("Quibfile", kMessy);
  ASSERT_EQ(::chmod((dir.path() / "Quibfile").c_str(), 0754), 0);
  const QuibRun run = run_quib({"fmt"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(dir.read("Quibfile"), kFormatted);
  EXPECT_EQ(stat_of(dir.path() / "Quibfile").st_mode & 07777, 0754u);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"Quibfile"});
}

TEST(FmtInPlaceTest, LeavesAFileInCanonicalLayoutUntouched) {
  ScratchDir dir;
  dir.write("Quibfile", kFormatted);
  const struct stat before = stat_of(dir.path() / "Quibfile");
  const QuibRun run = run_quib({"fmt", "Quibfile"}, dir.path());
  EXPECT_EQ(run.status, 0);
  // The same inode: the file was not replaced by a rewritten copy.
  EXPECT_EQ(stat_of(dir.path() / "Quibfile").st_ino, before.st_ino);
}

TEST(FmtInPlaceTest, FollowsASymbolicLinkAndKeepsIt) {
  ScratchDir dir;
  dir.write("real", kMessy);
  fs::create_symlink("real", dir.path() / "Quibfile");
  const QuibRun run = run_quib({"fmt"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(dir.path() / "Quibfile"));
  EXPECT_EQ(dir.read("real"), kFormatted);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Quibfile", "real"}));
}

TEST(FmtInPlaceTest, FileWithDiagnosticsIsReportedAndLeftAlone) {
  ScratchDir dir;
  dir.write("broken", kBroken);
  dir.write("messy", kMessy);
  const QuibRun run = run_quib({"fmt", "broken", "messy"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "broken:2:8: error[semantic.undefined-variable]: variable 'nope' is not defined\n"
            "  2 |   echo {{ nope }}\n"
            "    |        ^^^^^^^^^^\n");
  EXPECT_EQ(dir.read("broken"), kBroken);
  EXPECT_EQ(dir.read("messy"), kFormatted);
}

TEST(FmtInPlaceTest, UnreadablePathsAreNamedAndTheOthersFormatted) {
  ScratchDir dir;
  dir.write("messy", kMessy);
  fs::create_directory(dir.path() / "folder");
  const QuibRun run = run_quib({"fmt", "missing", "folder", "messy"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "quib: cannot read 'missing': No such file or directory\n"
            "quib: cannot read 'folder': Is a directory\n");
  EXPECT_EQ(dir.read("messy"), kFormatted);
}

// --check and --diff write nothing, whatever they report.
struct ReportCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string_view out;
};

class FmtReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(FmtReportTest, ReportsWithoutWriting) {
  ScratchDir dir;
  dir.write("messy", kMessy);
  dir.write("tidy", kFormatted);
  const QuibRun run = run_quib(GetParam().args, dir.path());
  EXPECT_EQ(run.status, GetParam().status);
  EXPECT_EQ(run.out, GetParam().out);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(dir.read("messy"), kMessy);
  EXPECT_EQ(dir.read("tidy"), kFormatted);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"messy", "tidy"}));
}

constexpr std::string_view kMessyDiff =
    "--- messy\n"
    "+++ messy\n"
    "@@ -1,5 +1,4 @@\n"
    "-!var a=\"x\"\n"
    "-\n"
    "+!var a = \"x\"\n"
    " \n"
    " build():\n"
    "-  echo {{ a }}\n"
    "+    echo {{a}}\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, FmtReportTest,
    ::testing::Values(
        ReportCase{"CheckListsChangedFiles", {"fmt", "--check", "tidy", "messy"}, 1, "messy\n"},
        ReportCase{"CheckPassesWhenTidy", {"fmt", "--check", "tidy"}, 0, ""},
        ReportCase{"DiffShowsTheChange", {"fmt", "--diff", "tidy", "messy"}, 0, kMessyDiff},
        ReportCase{"DiffWithCheckFails", {"fmt", "--diff", "--check", "messy"}, 1, kMessyDiff}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FmtStdinTest, FormatsStandardInputToStandardOutput) {
  ScratchDir dir;
  QuibRun run = run_quib({"fmt", "-"}, dir.path(), kMessy);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kFormatted);

  // A tidy input comes back unchanged rather than as nothing.
  run = run_quib({"fmt", "-"}, dir.path(), kFormatted);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kFormatted);

  run = run_quib({"fmt", "--check", "-"}, dir.path(), kMessy);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "<stdin>\n");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{});
}

TEST(FmtStdinTest, DiagnosticsGoToStandardErrorSoTheyAreNotTakenForTheText) {
  ScratchDir dir;
  const QuibRun run = run_quib({"fmt", "-"}, dir.path(), kBroken);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(run.err.starts_with("<stdin>:2:8: error[semantic.undefined-variable]")) << run.err;
}

}  // namespace
}  // namespace quib::cli::testing
