// Document synchronisation through the real binary: what each notification publishes.
#include <gtest/gtest.h>

#include "lsp_client.h"

namespace quib::lsp::testing {
namespace {

constexpr const char* kUri = "file:///w/Quibfile";

json::value open_params(std::string_view text, int version) {
  return json::object{
      {"textDocument",
       json::object{
           {"uri", kUri}, {"languageId", "quibfile"}, {"version", version}, {"text", text}}}};
}

json::value change_params(int version, std::initializer_list<std::string_view> texts) {
  json::array changes;
  for (std::string_view text : texts) changes.push_back(json::object{{"text", text}});
  return json::object{{"textDocument", json::object{{"uri", kUri}, {"version", version}}},
                      {"contentChanges", changes}};
}

class DocumentsTest : public ::testing::Test {
 protected:
  void SetUp() override { client.initialize(); }
  json::object published() { return client.wait_notification("textDocument/publishDiagnostics"); }
  LspClient client;
};

TEST_F(DocumentsTest, OpenPublishesOneDiagnosticWithProtocolFields) {
  client.notify("textDocument/didOpen", open_params("build:\n    make\n!\n", 7));
  json::object message = published();
  EXPECT_EQ(message.at("params"), json::parse(R"({
    "uri": "file:///w/Quibfile",
    "diagnostics": [{
      "range": {"start": {"line": 2, "character": 0}, "end": {"line": 2, "character": 1}},
      "severity": 1,
      "code": "parse.malformed-directive",
      "source": "quib-lsp",
      "message": "invalid directive"
    }],
    "version": 7})"));
}

TEST_F(DocumentsTest, CleanDocumentPublishesAnEmptyList) {
  client.notify("textDocument/didOpen", open_params("build:\n    make\n", 1));
  json::object params = published().at("params").as_object();
  EXPECT_TRUE(params.at("diagnostics").as_array().empty());
  EXPECT_EQ(params.at("version"), 1);
}

TEST_F(DocumentsTest, EmptyChangeRepublishesUnderTheNewVersion) {
  client.notify("textDocument/didOpen", open_params("!\n", 1));
  published();
  client.notify("textDocument/didChange", change_params(2, {}));
  json::object params = published().at("params").as_object();
  EXPECT_EQ(params.at("version"), 2);
  EXPECT_EQ(params.at("diagnostics").as_array().size(), 1u);
}

TEST_F(DocumentsTest, OnlyTheLastOfSeveralChangesIsStored) {
  client.notify("textDocument/didOpen", open_params("build:\n    make\n", 1));
  published();
  client.notify("textDocument/didChange", change_params(2, {"!\n", "!\n!\n", "}\n"}));
  json::array diagnostics = published().at("params").at("diagnostics").as_array();
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].at("code"), "namespace.close-without-open");
}

TEST_F(DocumentsTest, CloseClearsWithoutVersionAndForgetsTheText) {
  client.notify("textDocument/didOpen", open_params("!\n", 1));
  published();
  client.notify("textDocument/didClose",
                json::object{{"textDocument", json::object{{"uri", kUri}}}});
  EXPECT_EQ(published().at("params"),
            json::parse(R"({"uri":"file:///w/Quibfile","diagnostics":[]})"));
  json::object hover =
      client.request("textDocument/hover",
                     json::object{{"textDocument", json::object{{"uri", kUri}}},
                                  {"position", json::object{{"line", 0}, {"character", 0}}}});
  EXPECT_TRUE(hover.at("result").is_null());
}

// The stray `$` sits after a ¥ (one UTF-16 unit) and a 😂 (two units) on its line.
TEST_F(DocumentsTest, RangesAreInUtf16Columns) {
  client.notify("textDocument/didOpen", open_params("[help] \xC2\xA5\n\xF0\x9F\x98\x82\n", 1));
  json::array diagnostics = published().at("params").at("diagnostics").as_array();
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].at("range"),
            json::parse(R"({"start":{"line":1,"character":0},"end":{"line":1,"character":2}})"));
}

}  // namespace
}  // namespace quib::lsp::testing
