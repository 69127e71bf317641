// The structure requests through the real binary: exact JSON for one small document, and the
// empty answers for a document that was never opened.
#include <gtest/gtest.h>

#include "lsp_client.h"

namespace quib::lsp::testing {
namespace {

constexpr const char* kUri = "file:///w/Quibfile";

json::value document(const char* uri) {
  return json::object{{"textDocument", json::object{{"uri", uri}}}};
}

class OutlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.initialize();
    client.open_document(kUri, kText);
  }
  json::value result(const char* method, const char* uri = kUri) {
    return client.request(method, document(uri)).at("result");
  }

  static constexpr const char* kText =
      "!var v = \"x\"\ngroup g {\nbuild(a):\n    | echo {{ a }}  \n    | ¥ {{v}}\n}\ntest:\n";
  LspClient client;
};

TEST_F(OutlineTest, DocumentSymbols) {
  EXPECT_EQ(result("textDocument/documentSymbol"), json::parse(R"([
    {"name": "g", "kind": 3, "location": {"uri": "file:///w/Quibfile",
      "range": {"start": {"line": 1, "character": 0}, "end": {"line": 2, "character": 0}}}},
    {"name": "build", "kind": 12, "containerName": "g", "location": {"uri": "file:///w/Quibfile",
      "range": {"start": {"line": 2, "character": 0}, "end": {"line": 5, "character": 0}}}},
    {"name": "test", "kind": 12, "location": {"uri": "file:///w/Quibfile",
      "range": {"start": {"line": 6, "character": 0}, "end": {"line": 7, "character": 0}}}}
  ])"));
}

TEST_F(OutlineTest, FoldingRanges) {
  EXPECT_EQ(result("textDocument/foldingRange"), json::parse(R"([
    {"startLine": 2, "startCharacter": 0, "endLine": 4, "endCharacter": 12},
    {"startLine": 6, "startCharacter": 0, "endLine": 6, "endCharacter": 4},
    {"startLine": 3, "startCharacter": 0, "endLine": 4, "endCharacter": 12},
    {"startLine": 1, "startCharacter": 0, "endLine": 5, "endCharacter": 0}
  ])"));
}

TEST_F(OutlineTest, SemanticTokens) {
  EXPECT_EQ(result("textDocument/semanticTokens/full"), json::parse(R"({"data": [
    0, 0, 4, 0, 0,   0, 5, 1, 7, 0,
    1, 6, 1, 1, 0,
    1, 0, 5, 2, 0,   0, 5, 1, 10, 0,   0, 1, 1, 3, 0,   0, 1, 1, 10, 0,
    1, 4, 1, 9, 0,   0, 10, 1, 7, 0,
    1, 4, 1, 9, 0,   0, 6, 1, 7, 0,
    2, 0, 4, 2, 0
  ]})"));
}

TEST_F(OutlineTest, UnknownDocumentGetsEmptyAnswers) {
  const char* unknown = "file:///w/never-opened";
  EXPECT_EQ(result("textDocument/documentSymbol", unknown), json::array{});
  EXPECT_EQ(result("textDocument/foldingRange", unknown), json::array{});
  EXPECT_TRUE(result("textDocument/semanticTokens/full", unknown).is_null());
}

}  // namespace
}  // namespace quib::lsp::testing
