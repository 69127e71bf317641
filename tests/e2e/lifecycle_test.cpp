// The real binary over pipes: capabilities, greeting, lifecycle, exit status and recovery from
// bad input on the wire.
#include <gtest/gtest.h>

#include "lsp_client.h"

namespace quib::lsp::testing {
namespace {

using namespace std::chrono_literals;

const json::value kHoverParams = json::parse(
    R"({"textDocument":{"uri":"file:///w/Quibfile"},"position":{"line":0,"character":0}})");

int64_t error_code(const json::object& response) {
  return response.at("error").at("code").as_int64();
}

TEST(LifecycleTest, InitializeAnswersTheExactCapabilities) {
  LspClient client;
  json::object answer =
      client.request("initialize", json::parse(R"({"processId":1,"capabilities":{"general":
                                   {"positionEncodings":["utf-8"]}},"trace":"verbose"})"));
  EXPECT_EQ(answer.at("result"), json::parse(R"({"capabilities":{
    "textDocumentSync": 1,
    "hoverProvider": true,
    "completionProvider": {"triggerCharacters": ["!", "@", "[", "&", "."]},
    "documentSymbolProvider": true,
    "documentFormattingProvider": true,
    "documentRangeFormattingProvider": true,
    "foldingRangeProvider": true,
    "semanticTokensProvider": {
      "legend": {
        "tokenTypes": ["directive", "namespace", "task", "parameter", "guard", "dependency",
                       "shell", "variable", "metadata", "blockMarker", "delimiter"],
        "tokenModifiers": []
      },
      "full": true
    }}})"));
}

TEST(LifecycleTest, InitializedSendsExactlyOneGreeting) {
  LspClient client;
  client.request("initialize");
  client.notify("initialized");
  json::object greeting = client.wait_notification("window/logMessage");
  EXPECT_EQ(greeting.at("params"),
            json::parse(R"({"type":3,"message":"Quibfile language server initialized."})"));
  EXPECT_EQ(client.next_message(300ms), std::nullopt);
}

TEST(LifecycleTest, RequestBeforeInitializeIsRefusedAndServerKeepsRunning) {
  LspClient client;
  json::object refused = client.request("textDocument/hover", kHoverParams);
  EXPECT_EQ(error_code(refused), -32002);
  EXPECT_EQ(refused.at("error").at("message"), "Server not initialized");
  EXPECT_TRUE(client.request("initialize").contains("result"));
}

TEST(LifecycleTest, MethodsOutsideTheTableAreNotFound) {
  LspClient client;
  client.initialize();
  for (const char* method : {"textDocument/definition", "textDocument/references", "x/y"}) {
    json::object answer = client.request(method, kHoverParams);
    EXPECT_EQ(error_code(answer), -32601) << method;
    EXPECT_EQ(answer.at("error").at("message"), "Method not found");
  }
}

// The handlers not built yet still decode their params and give their empty answers.
TEST(LifecycleTest, RoutedRequestsGiveTheirEmptyAnswers) {
  LspClient client;
  client.initialize();
  json::value doc = json::parse(R"({"textDocument":{"uri":"file:///w/Quibfile"}})");
  json::value range = json::parse(R"({"textDocument":{"uri":"file:///w/Quibfile"},
      "range":{"start":{"line":0,"character":0},"end":{"line":1,"character":0}},
      "options":{"tabSize":4,"insertSpaces":true}})");
  struct Case {
    const char* method;
    json::value params;
    json::value expected;
  } cases[] = {
      {"textDocument/hover", kHoverParams, nullptr},
      {"textDocument/completion", kHoverParams, nullptr},
      {"textDocument/documentSymbol", doc, json::array{}},
      {"textDocument/foldingRange", doc, json::array{}},
      {"textDocument/formatting", doc, nullptr},
      {"textDocument/rangeFormatting", range, nullptr},
      {"textDocument/semanticTokens/full", doc, nullptr},
  };
  for (const Case& c : cases) {
    json::object answer = client.request(c.method, c.params);
    EXPECT_EQ(answer.at("result"), c.expected) << c.method;
    EXPECT_EQ(error_code(client.request(c.method, json::object{})), -32602) << c.method;
  }
}

TEST(LifecycleTest, ShutdownThenExitEndsWithStatusZero) {
  LspClient client;
  client.initialize();
  EXPECT_EQ(client.request("shutdown").at("result"), nullptr);
  json::object late = client.request("textDocument/hover", kHoverParams);
  EXPECT_EQ(error_code(late), -32600);
  EXPECT_EQ(late.at("error").at("message"), "Invalid request");
  client.notify("exit");
  EXPECT_EQ(client.wait_exit(), 0);
  EXPECT_EQ(client.stderr_text(), "");
}

TEST(LifecycleTest, ExitWhileStdinStaysOpenEndsTheProcess) {
  LspClient client;
  client.initialize();
  client.notify("exit");
  EXPECT_EQ(client.wait_exit(), 0);
}

TEST(LifecycleTest, ClosedStdinWithoutExitEndsWithStatusZero) {
  LspClient client;
  client.initialize();
  client.close_stdin();
  EXPECT_EQ(client.wait_exit(), 0);
  EXPECT_EQ(client.stderr_text(), "");
}

TEST(LifecycleTest, StreamEndingInsideABodyEndsWithStatusZero) {
  LspClient client;
  client.initialize();
  client.send_raw("Content-Length: 100\r\n\r\n{\"jsonrpc\":");
  client.close_stdin();
  EXPECT_EQ(client.wait_exit(), 0);
  EXPECT_EQ(client.stderr_text(), "");
}

struct GarbageCase {
  const char* name;
  std::string bytes;
  std::optional<int64_t> code;  // the error answered with id null, if any
};

class GarbageTest : public ::testing::TestWithParam<GarbageCase> {};

TEST_P(GarbageTest, NextWellFormedRequestIsServed) {
  LspClient client;
  client.initialize();
  client.send_raw(GetParam().bytes);
  json::object answer = client.request("textDocument/documentSymbol",
                                       json::parse(R"({"textDocument":{"uri":"file:///q"}})"));
  EXPECT_EQ(answer.at("result"), json::array{});
  if (GetParam().code) {
    std::optional<json::object> error = client.next_message(2s);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->at("id"), nullptr);
    EXPECT_EQ(error_code(*error), *GetParam().code);
  }
  EXPECT_EQ(client.next_message(200ms), std::nullopt);
  client.close_stdin();
  EXPECT_EQ(client.wait_exit(), 0);
  EXPECT_EQ(client.stderr_text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Wire, GarbageTest,
    ::testing::Values(GarbageCase{"InvalidJson", "Content-Length: 9\r\n\r\n{\"oops\":]", -32700},
                      GarbageCase{"NotAnObject", "Content-Length: 2\r\n\r\n42", -32600},
                      GarbageCase{"NoContentLength", "Content-Type: text/plain\r\n\r\n{}", -32600},
                      GarbageCase{"NegativeLength", "Content-Length: -4\r\n\r\n{}", -32600},
                      GarbageCase{"NonNumericLength", "Content-Length: ten\r\n\r\n{}", -32600},
                      GarbageCase{"AbsurdLength", "Content-Length: 2000000000\r\n\r\n{}", -32600},
                      GarbageCase{"LengthShorterThanBody", "Content-Length: 3\r\n\r\n{\"a\":1}",
                                  -32700}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quib::lsp::testing
