// Hover and completion through the real binary: the wire shape of each answer, UTF-16 columns
// on the way in and out, and the empty answers.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "lsp_client.h"

namespace quib::lsp::testing {
namespace {

constexpr const char* kUri = "file:///w/Quibfile";

// The 😂 before the placeholder is two UTF-16 units, so the placeholder starts at column 12
// although it starts at byte 14 of its line.
constexpr std::string_view kDocument =
    "!shell bash\n"
    "deploy(target=\"prod\"):\n"
    "    echo \xF0\x9F\x98\x82 {{ target }}\n"
    "build:\n"
    "    make\n";

json::value position_params(std::string_view uri, int line, int character) {
  return json::object{{"textDocument", json::object{{"uri", uri}}},
                      {"position", json::object{{"line", line}, {"character", character}}}};
}

class AssistTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.initialize();
    open(kDocument);
  }
  void open(std::string_view text) { client.open_document(kUri, text); }
  json::value result(std::string_view method, int line, int character,
                     std::string_view uri = kUri) {
    return client.request(method, position_params(uri, line, character)).at("result");
  }
  LspClient client;
};

TEST_F(AssistTest, HoverOnAPlaceholderAfterASurrogatePair) {
  EXPECT_EQ(result("textDocument/hover", 2, 15), json::parse(R"({
    "contents": {
      "kind": "markdown",
      "value": "```quibfile\n{{target}}\n```\n\nReplaces this variable at runtime.\n\nDefault: `prod`"
    },
    "range": {"start": {"line": 2, "character": 12}, "end": {"line": 2, "character": 24}}
  })"));
}

TEST_F(AssistTest, HoverOnACommandUsesTheFirstShellDirective) {
  EXPECT_EQ(result("textDocument/hover", 4, 5), json::parse(R"({
    "contents": {
      "kind": "markdown",
      "value": "```quibfile\nblock (bash)\n```\n\nRuns this block once with `bash`.\n\nContainer: `build`"
    },
    "range": {"start": {"line": 4, "character": 4}, "end": {"line": 4, "character": 8}}
  })"));
}

TEST_F(AssistTest, HoverOnNothingIsNull) {
  EXPECT_TRUE(result("textDocument/hover", 2, 1).is_null());
}

TEST_F(AssistTest, UnknownDocumentsAnswerNull) {
  EXPECT_TRUE(result("textDocument/hover", 0, 1, "file:///w/Other").is_null());
  EXPECT_TRUE(result("textDocument/completion", 0, 1, "file:///w/Other").is_null());
}

TEST_F(AssistTest, CompletionOfADependency) {
  open("build:\n    make\ndeploy() & bu\n");
  EXPECT_EQ(result("textDocument/completion", 2, 13), json::parse(R"([{
    "label": "build",
    "kind": 3,
    "detail": "Task dependency.",
    "insertTextFormat": 2,
    "textEdit": {
      "range": {"start": {"line": 2, "character": 11}, "end": {"line": 2, "character": 13}},
      "newText": "build"
    }
  }])"));
}

// The snippet goes out as written, with its `$` placeholders.
TEST_F(AssistTest, CompletionOfAMetadataKeyAsSnippet) {
  open("[h\n");
  EXPECT_EQ(result("textDocument/completion", 0, 2), json::parse(R"([{
    "label": "[help]",
    "kind": 10,
    "detail": "Short task or group summary.",
    "insertTextFormat": 2,
    "textEdit": {
      "range": {"start": {"line": 0, "character": 0}, "end": {"line": 0, "character": 2}},
      "newText": "[help] ${1:text}"
    }
  }])"));
}

TEST_F(AssistTest, NoContextIsAnEmptyList) {
  EXPECT_EQ(result("textDocument/completion", 4, 6), json::array{});
}

}  // namespace
}  // namespace quib::lsp::testing

namespace quib::lsp::testing {
namespace {

// Requests on one document run on several workers at once, and hover and highlighting both walk
// its syntax tree (highlighting a document this large on two threads): each must read it
// through handles of its own. Under the thread sanitizer a shared handle shows here as a
// reported race (on stderr) or a bad exit.
TEST(ConcurrentRequests, HoverAndHighlightingOnOneDocument) {
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    text += "t" + std::to_string(i) + "(a):\n    echo {{ a }}\n\n";
  }
  LspClient client;
  client.initialize();
  client.open_document(kUri, text);
  std::vector<int64_t> ids;
  for (int round = 0; round < 20; ++round) {
    ids.push_back(client.send_request("textDocument/semanticTokens/full",
                                      json::object{{"textDocument", json::object{{"uri", kUri}}}}));
    for (int line = 0; line < 30; line += 3) {
      ids.push_back(
          client.send_request("textDocument/hover", position_params(kUri, round * 150 + line, 1)));
    }
  }
  for (const int64_t id : ids) EXPECT_TRUE(client.wait_response(id).contains("result"));
  EXPECT_EQ(client.request("shutdown").at("result"), nullptr);
  client.notify("exit");
  EXPECT_EQ(client.wait_exit(), 0);
  EXPECT_EQ(client.stderr_text(), "");
}

// A request answers from the text the messages before it left, even when a later change or
// close of its document is handled before a worker is free for it. Highlighting a large
// document keeps the workers busy, so the hover waits behind the notification that follows it.
TEST(ConcurrentRequests, ARequestAnswersFromTheTextBeforeTheMessagesAfterIt) {
  constexpr const char* kLargeUri = "file:///w/large/Quibfile";
  std::string large;
  for (int i = 0; i < 20000; ++i) large += "t" + std::to_string(i) + "(a):\n    echo {{ a }}\n\n";
  const json::value make_hover = json::parse(R"({
    "contents": {
      "kind": "markdown",
      "value": "```quibfile\nblock (bash)\n```\n\nRuns this block once with `bash`.\n\nContainer: `build`"
    },
    "range": {"start": {"line": 4, "character": 4}, "end": {"line": 4, "character": 8}}
  })");
  const json::object document{{"uri", kUri}, {"version", 2}};
  const std::vector<std::pair<std::string, json::object>> followers = {
      {"textDocument/didChange",
       {{"textDocument", document},
        {"contentChanges", json::array{json::object{{"text", "build:\n"}}}}}},
      {"textDocument/didClose", {{"textDocument", json::object{{"uri", kUri}}}}},
  };
  LspClient client;
  client.initialize();
  client.open_document(kLargeUri, large);
  for (const auto& [method, params] : followers) {
    SCOPED_TRACE(method);
    client.open_document(kUri, kDocument);
    std::vector<int64_t> busy;
    for (int i = 0; i < 8; ++i) {
      busy.push_back(
          client.send_request("textDocument/semanticTokens/full",
                              json::object{{"textDocument", json::object{{"uri", kLargeUri}}}}));
    }
    const int64_t hover = client.send_request("textDocument/hover", position_params(kUri, 4, 5));
    client.notify(method, params);
    EXPECT_EQ(client.wait_response(hover).at("result"), make_hover);
    for (const int64_t id : busy) EXPECT_TRUE(client.wait_response(id).contains("result"));
  }
}

}  // namespace
}  // namespace quib::lsp::testing
