// The formatting requests through the real binary.
#include <gtest/gtest.h>

#include "lsp_client.h"

namespace quib::lsp::testing {
namespace {

constexpr const char* kUri = "file:///w/Quibfile";

class FormattingTest : public ::testing::Test {
 protected:
  void SetUp() override { client.initialize(); }

  void open(std::string_view text) { client.open_document(kUri, text); }
  json::value format(std::string_view uri = kUri) {
    return client
        .request("textDocument/formatting",
                 json::object{{"textDocument", json::object{{"uri", uri}}},
                              {"options", json::object{{"tabSize", 2}, {"insertSpaces", true}}}})
        .at("result");
  }
  json::value format_range(json::value range) {
    return client
        .request("textDocument/rangeFormatting",
                 json::object{{"textDocument", json::object{{"uri", kUri}}},
                              {"range", range},
                              {"options", json::object{{"tabSize", 4}, {"insertSpaces", true}}}})
        .at("result");
  }
  LspClient client;
};

TEST_F(FormattingTest, WholeDocumentIsOneEdit) {
  open("build:\n  make\n\n\n\ntest:\n  run");
  EXPECT_EQ(format(), json::parse(R"([{
    "range": {"start": {"line": 0, "character": 0}, "end": {"line": 6, "character": 5}},
    "newText": "build():\n    make\n\ntest():\n    run\n"}])"));
}

TEST_F(FormattingTest, CanonicalDocumentAnswersEmptyList) {
  open("build():\n    make\n");
  EXPECT_EQ(format(), json::array());
}

TEST_F(FormattingTest, RefusesUnknownDocumentsAndDocumentsWithDiagnostics) {
  EXPECT_TRUE(format("file:///never/opened").is_null());
  // Well-formed, but the checks report the missing dependency.
  open("build & missing:\n    make\n");
  EXPECT_TRUE(format().is_null());
}

TEST_F(FormattingTest, RangeFormatsTheTouchedDeclarationFromItsLineStart) {
  open("build():\n    make\n\ntest :\n  run\n");
  EXPECT_EQ(format_range(json::parse(R"({"start":{"line":4,"character":1},
                                         "end":{"line":4,"character":1}})")),
            json::parse(R"([{
    "range": {"start": {"line": 3, "character": 0}, "end": {"line": 5, "character": 0}},
    "newText": "test():\n    run\n"}])"));
  EXPECT_EQ(format_range(json::parse(R"({"start":{"line":0,"character":0},
                                         "end":{"line":0,"character":3}})")),
            json::array());
}

TEST_F(FormattingTest, RangeRefusals) {
  open("build():\n    make\n\n# note\n\ntest():\n    run\n");
  const char* two_tasks = R"({"start":{"line":0,"character":0},"end":{"line":5,"character":2}})";
  const char* comment_only = R"({"start":{"line":3,"character":1},"end":{"line":3,"character":2}})";
  const char* backwards = R"({"start":{"line":5,"character":2},"end":{"line":5,"character":0}})";
  EXPECT_TRUE(format_range(json::parse(two_tasks)).is_null());
  EXPECT_TRUE(format_range(json::parse(comment_only)).is_null());
  EXPECT_TRUE(format_range(json::parse(backwards)).is_null());
}

}  // namespace
}  // namespace quib::lsp::testing
