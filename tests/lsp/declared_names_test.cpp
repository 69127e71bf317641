// The names of a document without one line, read from its model around a short scan, against a
// scan of the whole shortened text.
#include "lsp/declared_names.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "semantic/analyze.h"
#include "support/fragments.h"
#include "support/valid_documents.h"
#include "syntax/parse.h"

namespace quib::lsp {
namespace {

using testing_support::Draw;

// The names of `shortened`, the text without a line, scanned from its start.
DeclaredNames scanned_names(std::string_view shortened) {
  DeclaredNamesReader names;
  scan_items(shortened, "", [&](const ScannedItem& item) {
    names.take(item, [&](TextRange range) { return shortened.substr(range.start, range.len()); });
    return true;
  });
  return names.finish();
}

std::string describe(const DeclaredNames& names) {
  std::string out;
  for (const DeclaredTask& task : names.tasks) {
    out += std::string(task.group.value_or("-")) + "." + std::string(task.name) + " @" +
           std::to_string(task.range.start) + ".." + std::to_string(task.range.end) + "\n";
  }
  for (std::string_view group : names.groups) out += "group " + std::string(group) + "\n";
  return out;
}

// Every line of `text` left out in turn, the last one also without its line feed.
void check_every_line(const std::string& text) {
  const SemanticModel model = analyze(parse(text));
  size_t line_start = 0;
  for (;;) {
    const size_t feed = text.find('\n', line_start);
    const size_t line_end = feed == std::string::npos ? text.size() : feed + 1;
    SCOPED_TRACE(testing::Message()
                 << "without the line at " << line_start << " of " << testing::PrintToString(text));
    const std::string shortened = text.substr(0, line_start) + text.substr(line_end);
    const DeclaredNames want = scanned_names(shortened);
    const DeclaredNames got = declared_names_without(model, text, line_start, line_end);
    ASSERT_EQ(got, want) << "got:\n" << describe(got) << "want:\n" << describe(want);
    if (feed == std::string::npos) break;
    line_start = line_end;
  }
}

// Lines whose removal changes the items after them, or the group they lie in.
TEST(DeclaredNames, LinesThatChangeTheirNeighbours) {
  const std::string_view cases[] = {
      "",
      "build:\n",
      "build:\n    make\n",
      "a:\n    x\nb:\n    y\n    z\nc & b:\n    w\n",
      // Without the header, its command lines join the task above.
      "a:\n    x\nb & a\n    y\nc:\n    z\n",
      // Without the opening line, the group's tasks are top-level; without `}`, the group runs on.
      "group ci {\n    build():\n        make\n    test() & build:\n        run\n}\nafter:\n    "
      "x\n",
      "group ci {\n    t():\n        x\n}\ngroup ci {\n    u():\n        y\n}\nlast:\n    z\n",
      "group a {\n    t():\n        x\ngroup b {\n    t():\n        y\n}\nt:\n    z\n",
      // A header broken over lines, a block command, metadata, a line without a line feed.
      "[help] Build\nrun(x,\n    y):\n    | set -e\n    | make\nnext:\n    go",
      "a:\r\n    x\r\nb:\r\n    y\r\n",
      "# c\n\n   \nt & :\n    x\n\nu:\n    y\n",
      // Tasks that begin indented lines inside one group, with spaces and with a tab.
      "group ci {\n    a():\n        x\n    b() & a:\n        y\n\tc() & b:\n        z\n}\nd:\n    "
      "w\n",
      "group ci {\n    a():\n        x\n    b:\n        y\n    c():\n        z\n",
  };
  for (std::string_view text : cases) check_every_line(std::string(text));
}

TEST(DeclaredNames, RandomFragments) {
  Draw draw(29);
  for (int i = 0; i < 400; ++i) {
    check_every_line(testing_support::random_document(draw, 1 + draw.below(24)));
  }
}

TEST(DeclaredNames, ValidDocuments) {
  Draw draw(31);
  for (int i = 0; i < 60; ++i) {
    testing_support::ValidDocumentBuilder builder(draw);
    check_every_line(builder.build(4 + draw.below(30)));
  }
}

}  // namespace
}  // namespace quib::lsp
