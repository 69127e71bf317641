// Document synchronisation through the real binary: what each notification publishes.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

// A large document is parsed and analysed in two parts on two threads; what it publishes and
// answers does not show where it was cut. Its errors sit in both halves, inside groups, and one
// task is defined in each half.
std::string large_document(std::string_view marker) {
  std::string text = "!version 0.1\n\ndup:\n    echo first\n\n";
  for (int i = 0; i < 4000; ++i) {
    const std::string n = std::to_string(i);
    if (i % 300 == 0) text += "group g" + n + " {\n";
    text += "[help] task " + n + " " + std::string(marker) + "\n";
    text += "    t" + n + "(a, b=\"x\") ? @os(\"linux\"):\n        echo {{ a }} {{ b }}\n";
    text += "        | line one\n        | line two\n\n";
    if (i % 300 == 299) text += "}\n\n";
    if (i == 700 || i == 3300) text += "!\n\n";
  }
  return text + "}\n\ndup:\n    echo second\n";
}

// Lines, from 0, of the lines of `text` that are exactly `line`.
std::vector<int64_t> lines_of(const std::string& text, std::string_view line) {
  std::vector<int64_t> found;
  int64_t number = 0;
  for (size_t start = 0; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (std::string_view(text).substr(start, end - start) == line) found.push_back(number);
    start = end + 1;
  }
  return found;
}

TEST_F(DocumentsTest, LargeDocumentsPublishWhatTheirWholeTextSays) {
  for (const std::string_view marker : {"a", "bb"}) {
    const std::string text = large_document(marker);
    ASSERT_GT(text.size(), 300u * 1024);
    if (marker == "a") {
      client.notify("textDocument/didOpen", open_params(text, 1));
    } else {
      client.notify("textDocument/didChange", change_params(2, {text}));
    }
    const json::array diagnostics = published().at("params").at("diagnostics").as_array();
    const std::vector<int64_t> bangs = lines_of(text, "!");
    const std::vector<int64_t> dups = lines_of(text, "dup:");
    ASSERT_EQ(bangs.size(), 2u);
    ASSERT_EQ(dups.size(), 2u);
    std::vector<std::pair<std::string, int64_t>> got;
    for (const json::value& d : diagnostics) {
      got.emplace_back(json::value_to<std::string>(d.at("code")),
                       d.at("range").at("start").at("line").as_int64());
    }
    const std::vector<std::pair<std::string, int64_t>> expected = {
        {"parse.malformed-directive", bangs[0]},
        {"parse.malformed-directive", bangs[1]},
        {"semantic.duplicate-task", dups[1]}};
    EXPECT_EQ(got, expected);
  }
  const json::object symbols = client.request(
      "textDocument/documentSymbol", json::object{{"textDocument", json::object{{"uri", kUri}}}});
  // One symbol for each group and each task.
  EXPECT_EQ(symbols.at("result").as_array().size(), 14u + 4000 + 2);
}

}  // namespace
}  // namespace quib::lsp::testing
