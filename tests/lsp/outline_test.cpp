// The outline in protocol form: symbol order, kinds and containers, and where folding ranges
// end (on the last visible character, in UTF-16 columns).
#include "lsp/outline.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quib::lsp {

// Found by argument-dependent lookup, so they live beside the types.
void PrintTo(const FoldingRange& r, std::ostream* out) {
  *out << r.startLine << ":" << r.startCharacter << "-" << r.endLine << ":" << r.endCharacter;
}
bool operator==(const FoldingRange& a, const FoldingRange& b) {
  return a.startLine == b.startLine && a.startCharacter == b.startCharacter &&
         a.endLine == b.endLine && a.endCharacter == b.endCharacter;
}

namespace {

constexpr const char* kUri = "file:///w/Quibfile";

std::unique_ptr<DocumentSnapshot> snapshot_of(std::string_view text) {
  return std::make_unique<DocumentSnapshot>(kUri, std::make_shared<const std::string>(text), 1);
}

Position position_of(const json::value& v) {
  return {static_cast<uint32_t>(v.at("line").as_int64()),
          static_cast<uint32_t>(v.at("character").as_int64())};
}

// name, kind, range as "line:col-line:col", container
struct SymbolRow {
  std::string name;
  int kind;
  Range range;
  std::optional<std::string> container;
  bool operator==(const SymbolRow&) const = default;
};

void PrintTo(const SymbolRow& s, std::ostream* out) {
  *out << s.name << "/" << s.kind << " " << s.range.start.line << ":" << s.range.start.character
       << "-" << s.range.end.line << ":" << s.range.end.character << " in "
       << s.container.value_or("-");
}

// The rows of the written answer, so the test reads what an editor gets.
std::vector<SymbolRow> symbol_rows(std::string_view text) {
  std::vector<SymbolRow> rows;
  const json::value answer = json::parse(to_json_text(DocumentSymbols{snapshot_of(text)}));
  for (const json::value& symbol : answer.as_array()) {
    const json::object& location = symbol.at("location").as_object();
    EXPECT_EQ(location.at("uri"), kUri);
    const json::value& range = location.at("range");
    const json::value* container = symbol.as_object().if_contains("containerName");
    rows.push_back({std::string(symbol.at("name").as_string()),
                    static_cast<int>(symbol.at("kind").as_int64()),
                    {position_of(range.at("start")), position_of(range.at("end"))},
                    container ? std::optional<std::string>(container->as_string()) : std::nullopt});
  }
  return rows;
}

Range lines(uint32_t start_line, uint32_t start_col, uint32_t end_line, uint32_t end_col) {
  return {{start_line, start_col}, {end_line, end_col}};
}

TEST(DocumentSymbols, NeitherMergedNorDeduplicated) {
  EXPECT_EQ(symbol_rows("group g {\na:\n}\ngroup g {\na:\n}\na:\n"),
            (std::vector<SymbolRow>{
                {"g", 3, lines(0, 0, 1, 0), std::nullopt},
                {"g", 3, lines(3, 0, 4, 0), std::nullopt},
                {"a", 12, lines(1, 0, 2, 0), "g"},
                {"a", 12, lines(4, 0, 5, 0), "g"},
                {"a", 12, lines(6, 0, 7, 0), std::nullopt},
            }));
  EXPECT_TRUE(symbol_rows("").empty());
  EXPECT_EQ(to_json_text(DocumentSymbols{}), "[]");
}

TEST(DocumentSymbols, NamesAndUrisAreEscaped) {
  const auto snapshot = std::make_shared<const DocumentSnapshot>(
      "file:///a\"b", std::make_shared<const std::string>("group g {\nt:\n}\n"), 1);
  EXPECT_EQ(to_json_text(DocumentSymbols{snapshot}),
            R"([{"name":"g","kind":3,"location":{"uri":"file:///a\"b","range":)"
            R"({"start":{"line":0,"character":0},"end":{"line":1,"character":0}}}},)"
            R"({"name":"t","kind":12,"location":{"uri":"file:///a\"b","range":)"
            R"({"start":{"line":1,"character":0},"end":{"line":2,"character":0}}},)"
            R"("containerName":"g"}])");
}

struct FoldCase {
  const char* name;
  const char* text;
  std::vector<FoldingRange> ranges;
};

class Folds : public ::testing::TestWithParam<FoldCase> {};

TEST_P(Folds, EndOnTheLastVisibleCharacter) {
  EXPECT_EQ(folding_ranges(*snapshot_of(GetParam().text)), GetParam().ranges) << "document:\n"
                                                                              << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    FoldingRanges, Folds,
    ::testing::Values(
        FoldCase{"OneLineTask", "t:\n", {{0, 0, 0, 1}}},
        FoldCase{"TrailingSpacesAreNotFolded", "t:\n    echo hi   \n\n  \n", {{0, 0, 1, 10}}},
        FoldCase{"Utf16Columns", "t:\n    echo ¥ ↓ 😂  \n", {{0, 0, 1, 13}}},
        FoldCase{"UnclosedGroupEndsAtItsLastTask",
                 "group g {\na:\n    echo\nb:\n    make it  \n\n",
                 {{1, 0, 2, 7}, {3, 0, 4, 10}, {0, 0, 4, 10}}}),
    [](const ::testing::TestParamInfo<FoldCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quib::lsp
