// Semantic tokens read back as absolute (line, column, length, type) rows, so each case states
// its document and the colours a user would see.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/protocol.h"
#include "lsp/semantic_tokens.h"
#include "support/fragments.h"
#include "support/valid_documents.h"
#include "syntax/parse.h"

namespace quib::lsp {
namespace {

struct Row {
  uint32_t line;
  uint32_t column;  // UTF-16 units
  uint32_t length;  // UTF-16 units
  std::string type;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << "{" << row.line << ", " << row.column << ", " << row.length << ", \"" << row.type
       << "\"}";
}

std::vector<uint32_t> data_of(std::string_view text) {
  const DocumentSnapshot snapshot("file:///t", std::make_shared<const std::string>(text), 1);
  return semantic_tokens(snapshot);
}

// Undoes the relative encoding; also checks the parts no row shows (modifiers, legend bounds).
std::vector<Row> decode(const std::vector<uint32_t>& data) {
  EXPECT_EQ(data.size() % 5, 0u);
  std::vector<Row> rows;
  uint32_t line = 0;
  uint32_t column = 0;
  for (size_t i = 0; i + 4 < data.size(); i += 5) {
    column = data[i] == 0 ? column + data[i + 1] : data[i + 1];
    line += data[i];
    EXPECT_LT(data[i + 3], std::size(kSemanticTokenTypes));
    EXPECT_EQ(data[i + 4], 0u);
    rows.push_back({line, column, data[i + 2], kSemanticTokenTypes[data[i + 3]]});
  }
  return rows;
}

void check_tokens(std::string_view text, const std::vector<Row>& expected) {
  EXPECT_EQ(decode(data_of(text)), expected) << "document:\n" << text;
}

TEST(SemanticTokens, VarDirectiveEncodesExactly) {
  EXPECT_EQ(data_of("!var name = \"x\""), (std::vector<uint32_t>{0, 0, 4, 0, 0, 0, 5, 4, 7, 0}));
}

TEST(SemanticTokens, EmptyDocumentHasNoData) {
  EXPECT_TRUE(data_of("").empty());
  EXPECT_TRUE(data_of("\n\n# only a comment\n").empty());
  const DocumentSnapshot snapshot("file:///t", std::make_shared<const std::string>(""), 1);
  EXPECT_EQ(semantic_tokens_json(snapshot), R"({"data":[]})");
}

struct Case {
  const char* name;
  const char* text;
  std::vector<Row> rows;
};

class Tokens : public ::testing::TestWithParam<Case> {};

TEST_P(Tokens, DecodeToRows) {
  check_tokens(GetParam().text, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    SemanticTokens, Tokens,
    ::testing::Values(
        Case{"Directives",
             "!version 0.1\n!shell bash\n!var shell = \"x\"\n! var spaced = \"y\"\n",
             {{0, 0, 8, "directive"},
              {1, 0, 6, "directive"},
              {2, 0, 4, "directive"},
              {2, 5, 5, "variable"},
              {3, 0, 5, "directive"},
              {3, 6, 6, "variable"}}},
        Case{"ParametersSortIntoTextOrder",
             "build(a, b):\n    echo\n",
             {{0, 0, 5, "task"},
              {0, 5, 1, "delimiter"},
              {0, 6, 1, "parameter"},
              {0, 9, 1, "parameter"},
              {0, 10, 1, "delimiter"}}},
        Case{"HeaderClauses",
             "deploy(t=\"x\", rest..) ? @os(\"linux\") & build & (a, b) shell~=pwsh:\n",
             {{0, 0, 6, "task"},
              {0, 6, 1, "delimiter"},
              {0, 7, 1, "parameter"},
              {0, 14, 4, "parameter"},
              {0, 20, 1, "delimiter"},
              {0, 24, 3, "guard"},
              {0, 39, 5, "dependency"},
              {0, 48, 1, "dependency"},
              {0, 51, 1, "dependency"},
              {0, 54, 11, "shell"}}},
        Case{"GroupsAndClosingLines",
             "group ci {\n    t:\n        echo\n}\n",
             {{0, 6, 2, "namespace"}, {1, 4, 1, "task"}}},
        Case{"CommandInterpolationsColourOnlyTheName",
             "t(x):\n    echo {{ x }} \\{{ no }} {{}}\n",
             {{0, 0, 1, "task"},
              {0, 1, 1, "delimiter"},
              {0, 2, 1, "parameter"},
              {0, 3, 1, "delimiter"},
              {1, 12, 1, "variable"},
              {1, 29, 0, "variable"}}},
        Case{"BlockMarkersAndTheirReferences",
             "t:\n    | echo {{a}}\n    | make {{ b }}\n    echo\n",
             {{0, 0, 1, "task"},
              {1, 4, 1, "blockMarker"},
              {1, 13, 1, "variable"},
              {2, 4, 1, "blockMarker"},
              {2, 14, 1, "variable"}}},
        Case{"MetadataKeysAndVariables",
             "!var v = \"1\"\n[desc] uses {{ v }}\n[my key] {{ v }}\n[pass] {{v}}{{ w}}\nt:\n"
             "    echo\n",
             {{0, 0, 4, "directive"},
              {0, 5, 1, "variable"},
              {1, 0, 6, "metadata"},
              {1, 15, 1, "variable"},
              {3, 0, 6, "metadata"},
              {3, 9, 1, "variable"},
              {3, 15, 1, "variable"},
              {4, 0, 1, "task"}}},
        Case{"ColumnsCountUtf16Units",
             "# ¥ ↓ 😂\n[help] ¥↓😂 {{ v }}\nt:\n    echo 😂{{x}} ¥{{y}}\n",
             {{1, 0, 6, "metadata"},
              {1, 15, 1, "variable"},
              {2, 0, 1, "task"},
              {3, 13, 1, "variable"},
              {3, 20, 1, "variable"}}},
        Case{"SyntaxErrorsLeaveTheRestColoured",
             "!\n!var\nbuild(a:\n    echo {{ a }}\n)))\n[help] ok\nt:\n",
             {{1, 0, 4, "directive"}, {5, 0, 6, "metadata"}, {6, 0, 1, "task"}}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A reference whose braces open on one block line and close on the next would need a
// multi-line token; it is left uncoloured rather than sent with a meaningless length.
TEST(SemanticTokens, ReferenceAcrossBlockLinesIsDropped) {
  check_tokens("t:\n    | echo {{a\n    | b}}\n",
               {{0, 0, 1, "task"}, {1, 4, 1, "blockMarker"}, {2, 4, 1, "blockMarker"}});
}

// A block's markers are collected after all of its references; in a long block the sort gives
// up inserting one span at a time, and the rows still come out line by line.
TEST(SemanticTokens, LongBlockComesOutLineByLine) {
  constexpr uint32_t kLines = 300;
  std::string text = "t:\n";
  std::vector<Row> rows = {{0, 0, 1, "task"}};
  for (uint32_t line = 1; line <= kLines; ++line) {
    text += "    | echo {{ v }}\n";
    rows.push_back({line, 4, 1, "blockMarker"});
    rows.push_back({line, 14, 1, "variable"});
  }
  check_tokens(text, rows);
}

// Spans are sorted item by item, which equals one stable sort of all spans only because every
// span starts inside an item that is coloured at all; generated documents, broken ones
// included, hold to both.
TEST(SemanticTokens, SpansAreSortedAndStartInsideColouredItems) {
  using testing_support::Draw;
  for (uint32_t seed = 0; seed < 300; ++seed) {
    Draw draw(seed);
    const std::string text = seed % 3 == 0 ? testing_support::valid_document(draw, 20)
                                           : testing_support::random_document(draw, 40);
    const ParseResult parse = quib::parse(text);
    const std::vector<RawSemanticToken> spans = collect_semantic_tokens(parse.root, text);
    std::optional<SyntaxNode> item = parse.root.first_child();
    for (size_t i = 0; i < spans.size(); ++i) {
      if (i > 0) {
        ASSERT_LE(spans[i - 1].start, spans[i].start) << "seed " << seed;
      }
      while (item && item->text_range().end <= spans[i].start) item = item->next_sibling();
      ASSERT_TRUE(item && item->text_range().start <= spans[i].start) << "seed " << seed;
      const SyntaxKind kind = item->kind();
      EXPECT_TRUE(kind == SyntaxKind::Directive || kind == SyntaxKind::GroupLine ||
                  kind == SyntaxKind::Task || kind == SyntaxKind::Metadata)
          << "seed " << seed << " span at " << spans[i].start;
    }
  }
}

// A large document is coloured in two parts; wherever the second part starts, the answer is
// that of one part, whose first span is encoded relative to the first part's last, as a list
// and as the answer's JSON text.
TEST(SemanticTokens, TwoPartsEncodeAsOne) {
  using testing_support::Draw;
  for (uint32_t seed = 0; seed < 60; ++seed) {
    Draw draw(seed);
    std::string text = seed % 2 == 0 ? testing_support::valid_document(draw, 12)
                                     : testing_support::random_document(draw, 24);
    if (seed % 5 == 0) text += "t:\n    echo {{a}} {{b}}";  // no final line break
    const DocumentSnapshot snapshot("file:///t", std::make_shared<const std::string>(text), 1);
    const uint32_t children = snapshot.parse_result.root.child_count();
    const std::vector<uint32_t> whole = semantic_tokens(snapshot, children);
    const std::string whole_json = to_json_text(SemanticTokens{.data = whole});
    for (uint32_t cut = 0; cut <= children; ++cut) {
      ASSERT_EQ(semantic_tokens(snapshot, cut), whole) << "seed " << seed << " cut " << cut;
      ASSERT_EQ(semantic_tokens_json(snapshot, cut), whole_json)
          << "seed " << seed << " cut " << cut;
    }
  }
}

// The default split of a large document gives the one-part answer too.
TEST(SemanticTokens, LargeDocumentSplitsAtTheMiddle) {
  std::string text;
  for (int i = 0; text.size() < 600 * 1024; ++i) {
    text += "[help] task {{ v }}\nt" + std::to_string(i) + "(a) ? @os(\"linux\") & b:\n";
    text += "    echo {{ a }}\n    | one\n    | two {{a}}\n\n";
  }
  const DocumentSnapshot snapshot("file:///t", std::make_shared<const std::string>(text), 1);
  const std::vector<uint32_t> whole =
      semantic_tokens(snapshot, snapshot.parse_result.root.child_count());
  EXPECT_EQ(semantic_tokens(snapshot), whole);
  // Long enough that both parts write their text in several chunks.
  EXPECT_GT(whole.size(), 40000u);
  EXPECT_EQ(semantic_tokens_json(snapshot), to_json_text(SemanticTokens{.data = whole}));
}

}  // namespace
}  // namespace quib::lsp
