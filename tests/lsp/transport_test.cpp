// Dispatch through the whole transport on in-memory streams: message validation, params
// decoding, the lifecycle gate, notification order, cancellation and the in-progress limit.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/json.hpp>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lsp/protocol_types.h"
#include "lsp/transport.h"
#include "memory_streams.h"

namespace quib::lsp {
namespace {

using namespace std::chrono_literals;
using testing::ChunkedSource;
using testing::FeedSource;
using testing::MemorySink;

// A server whose handlers record what reached them.
struct Probe {
  std::mutex mutex;
  std::vector<std::string> notified;  // uris of test/note, in handling order
  std::atomic<int> echo_calls = 0;
  std::atomic<int> running = 0;
  std::atomic<int> max_running = 0;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();

  InitializeResult on_initialize(const InitializeParams&) { return {}; }
  std::nullptr_t on_shutdown(const NoParams&) { return nullptr; }
  std::vector<std::string> echoed_uris;
  Position on_echo(const TextDocumentPositionParams& p) {
    ++echo_calls;
    {
      std::lock_guard lock(mutex);
      echoed_uris.push_back(p.textDocument.uri);
    }
    return p.position;
  }
  std::nullptr_t on_slow(const NoParams&) {
    int now = ++running;
    int seen = max_running.load();
    while (now > seen && !max_running.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(20ms);
    --running;
    return nullptr;
  }
  std::atomic<bool> blocking = false;
  std::nullptr_t on_block(const NoParams&) {
    blocking = true;
    released.wait();
    return nullptr;
  }
  // How many notes had been handled when the request came: taken in message order, answered
  // on a worker.
  Deferred<Position> on_notes_before(const NoParams&) {
    std::lock_guard lock(mutex);
    return [seen = static_cast<uint32_t>(notified.size())] { return Position{seen, 0}; };
  }
  void on_note(const DidCloseTextDocumentParams& p) {
    std::lock_guard lock(mutex);
    notified.push_back(p.textDocument.uri);
  }
  std::vector<TextDocumentItem> opened;
  void on_open(DidOpenTextDocumentParams&& p) {
    std::lock_guard lock(mutex);
    opened.push_back(std::move(p.textDocument));
  }

  MethodTable methods() {
    MethodTable table;
    Router<Probe> router(*this, table);
    router.on_request("initialize", &Probe::on_initialize);
    router.on_request("shutdown", &Probe::on_shutdown);
    router.on_request("test/echo", &Probe::on_echo);
    router.on_request("test/slow", &Probe::on_slow);
    router.on_request("test/block", &Probe::on_block);
    router.on_request("test/notes-before", &Probe::on_notes_before);
    router.on_notification("test/note", &Probe::on_note);
    router.on_notification("test/open", &Probe::on_open);
    return table;
  }
};

std::string request(int id, std::string_view method, std::string_view params = "{}") {
  return frame(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" +
               std::string(method) + R"(","params":)" + std::string(params) + "}");
}

std::string notification(std::string_view method, std::string_view params = "{}") {
  return frame(R"({"jsonrpc":"2.0","method":")" + std::string(method) + R"(","params":)" +
               std::string(params) + "}");
}

std::string note(std::string_view uri) {
  return notification("test/note", R"({"textDocument":{"uri":")" + std::string(uri) + "\"}}");
}

const std::string kInit = request(0, "initialize");
const std::string kEcho =
    R"({"textDocument":{"uri":"file:///a"},"position":{"line":2,"character":5}})";

// Runs a whole session over `input` (end of input ends it) and returns everything written.
std::vector<json::value> run(Probe& probe, const std::string& input,
                             TransportOptions options = {2, 4}) {
  ChunkedSource source({input});
  MemorySink sink;
  {
    Transport transport(source, sink, options);
    transport.serve(probe.methods());
  }
  return sink.messages();
}

// The response with this id; a null value when there is none.
json::value response(const std::vector<json::value>& messages, json::value id) {
  for (const json::value& m : messages) {
    const json::value* found = m.as_object().if_contains("id");
    if (found != nullptr && *found == id) return m;
  }
  return nullptr;
}

int64_t error_code(const json::value& response) {
  return response.at("error").at("code").as_int64();
}

// Polls `done` until it holds or ten seconds pass; its last answer.
template <class Done>
bool wait_until(const Done& done) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  return done();
}

struct RequestCase {
  const char* name;
  std::string message;
  int64_t code;  // 0: a result is expected
};

class RequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTest, AnswersRequest) {
  Probe probe;
  auto messages = run(probe, kInit + GetParam().message);
  json::value answer = response(messages, 1);
  ASSERT_TRUE(answer.is_object()) << json::serialize(json::value_from(messages));
  if (GetParam().code == 0) {
    EXPECT_EQ(answer.at("result"), json::parse(R"({"line":2,"character":5})"));
  } else {
    EXPECT_EQ(error_code(answer), GetParam().code) << json::serialize(answer);
    EXPECT_EQ(probe.echo_calls, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Params, RequestTest,
    ::testing::Values(
        RequestCase{"Valid", request(1, "test/echo", kEcho), 0},
        RequestCase{"UriNotString",
                    request(1, "test/echo",
                            R"({"textDocument":{"uri":5},"position":{"line":0,"character":0}})"),
                    -32602},
        RequestCase{"MissingPosition", request(1, "test/echo", R"({"textDocument":{"uri":"a"}})"),
                    -32602},
        RequestCase{"NegativeLine",
                    request(1, "test/echo",
                            R"({"textDocument":{"uri":"a"},"position":{"line":-1,"character":0}})"),
                    -32602},
        RequestCase{
            "FractionalCharacter",
            request(1, "test/echo",
                    R"({"textDocument":{"uri":"a"},"position":{"line":0,"character":0.5}})"),
            -32602},
        RequestCase{"ParamsArray", request(1, "test/echo", "[1]"), -32602},
        RequestCase{"ParamsScalar", request(1, "test/echo", "7"), -32600},
        RequestCase{"ParamsNullIsAbsent", request(1, "test/echo", "null"), -32602},
        RequestCase{"UnknownMethod", request(1, "textDocument/definition", kEcho), -32601},
        RequestCase{"SecondInitialize", request(1, "initialize"), -32600}),
    [](const auto& info) { return std::string(info.param.name); });

struct InvalidBodyCase {
  const char* name;
  std::string body;
  json::value id;
  int64_t code;
};

class InvalidBodyTest : public ::testing::TestWithParam<InvalidBodyCase> {};

TEST_P(InvalidBodyTest, AnswersErrorAndServesNextMessage) {
  Probe probe;
  auto messages = run(probe, kInit + frame(GetParam().body) + request(1, "test/echo", kEcho));
  ASSERT_EQ(messages.size(), 3u) << json::serialize(json::value_from(messages));
  const json::value& error = messages[1];
  EXPECT_EQ(error.at("id"), GetParam().id);
  EXPECT_EQ(error_code(error), GetParam().code);
  EXPECT_TRUE(response(messages, 1).as_object().contains("result"));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, InvalidBodyTest,
    ::testing::Values(
        InvalidBodyCase{"NotJson", "{\"jsonrpc\":", nullptr, -32700},
        InvalidBodyCase{"Empty", "", nullptr, -32700},
        InvalidBodyCase{"Array", "[1,2]", nullptr, -32600},
        InvalidBodyCase{"NoVersion", R"({"id":7,"method":"test/echo"})", 7, -32600},
        InvalidBodyCase{"WrongVersion", R"({"jsonrpc":"1.0","id":7,"method":"x"})", 7, -32600},
        InvalidBodyCase{"MethodNotString", R"({"jsonrpc":"2.0","id":"s","method":3})", "s", -32600},
        InvalidBodyCase{"IdObject", R"({"jsonrpc":"2.0","id":{},"method":"x"})", nullptr, -32600}),
    [](const auto& info) { return std::string(info.param.name); });

// Also when the body holds a long text, unescaped over the body's start before the trailing
// bytes show the length was wrong.
TEST(TransportTest, OvershootingLengthCostsOneMessage) {
  const std::string long_text =
      R"({"jsonrpc":"2.0","method":"test/open","params":{"textDocument":{"uri":"u",)"
      R"("languageId":"q","version":1,"text":")" +
      std::string(200000, 'q') + R"(\n"}}})";
  for (const std::string& body : {std::string(R"({"jsonrpc":"2.0"})"), long_text}) {
    Probe probe;
    std::string echo = request(1, "test/echo", kEcho);
    auto messages = run(probe, kInit + "Content-Length: " + std::to_string(body.size() + 23) +
                                   "\r\n\r\n" + body + echo);
    ASSERT_EQ(messages.size(), 3u) << body.size();
    EXPECT_EQ(error_code(messages[1]), -32700);
    EXPECT_TRUE(response(messages, 1).as_object().contains("result"));
    EXPECT_TRUE(probe.opened.empty());
  }
}

TEST(TransportTest, BeforeInitializeRequestsAreRefusedAndNotificationsDropped) {
  Probe probe;
  auto messages = run(probe, request(1, "test/echo", kEcho) + request(2, "nope") + note("early") +
                                 kInit + note("late"));
  EXPECT_EQ(error_code(response(messages, 1)), -32002);
  EXPECT_EQ(error_code(response(messages, 2)), -32002);
  EXPECT_TRUE(response(messages, 0).as_object().contains("result"));
  EXPECT_EQ(probe.notified, std::vector<std::string>{"late"});
}

TEST(TransportTest, FailedInitializeLeavesServerUninitialised) {
  Probe probe;
  auto messages = run(probe, request(0, "initialize", "[]") + request(1, "test/echo", kEcho));
  EXPECT_EQ(error_code(response(messages, 0)), -32602);
  EXPECT_EQ(error_code(response(messages, 1)), -32002);
}

TEST(TransportTest, AfterShutdownRequestsAreRefusedAndNotificationsHandled) {
  Probe probe;
  auto messages =
      run(probe, kInit + request(1, "shutdown") + request(2, "test/echo", kEcho) + note("after"));
  EXPECT_EQ(response(messages, 1).at("result"), nullptr);
  EXPECT_EQ(error_code(response(messages, 2)), -32600);
  EXPECT_EQ(probe.notified, std::vector<std::string>{"after"});
}

TEST(TransportTest, ExitEndsTheLoop) {
  Probe probe;
  auto messages =
      run(probe, kInit + notification("exit") + request(1, "test/echo", kEcho) + note("x"));
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_TRUE(probe.notified.empty());
}

TEST(TransportTest, UnknownNotificationsAndClientResponsesAreSilent) {
  Probe probe;
  auto messages =
      run(probe, kInit + notification("$/setTrace") + notification("test/note", R"({"wrong":1})") +
                     frame(R"({"jsonrpc":"2.0","id":9,"result":null})"));
  EXPECT_EQ(messages.size(), 1u) << json::serialize(json::value_from(messages));
}

TEST(TransportTest, NotificationsAreHandledInArrivalOrder) {
  Probe probe;
  std::string input = kInit;
  std::vector<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    expected.push_back(std::to_string(i));
    input += note(expected.back());
    if (i % 10 == 0) input += request(1000 + i, "test/echo", kEcho);
  }
  run(probe, input, {4, 4});
  EXPECT_EQ(probe.notified, expected);
}

// A deferred request takes what it answers from as the messages before it left it, though it
// runs only after the notifications that follow it: the one worker is held by a blocked request.
TEST(TransportTest, DeferredRequestsSeeTheMessagesBeforeThem) {
  Probe probe;
  FeedSource source;
  MemorySink sink;
  Transport transport(source, sink, {1, 2});
  std::thread server([&] { transport.serve(probe.methods()); });
  source.feed(kInit + request(1, "test/block"));
  ASSERT_TRUE(wait_until([&] { return probe.blocking.load(); }));
  source.feed(note("a") + request(2, "test/notes-before") + note("b") + note("c") +
              request(3, "test/notes-before") + note("d"));
  // Every note is handled while both requests still wait for the worker.
  EXPECT_TRUE(wait_until([&] {
    std::lock_guard lock(probe.mutex);
    return probe.notified.size() == 4;
  }));
  probe.release.set_value();
  source.end();
  server.join();
  const auto messages = sink.messages();
  EXPECT_EQ(response(messages, 2).at("result").at("line"), 1);
  EXPECT_EQ(response(messages, 3).at("result").at("line"), 3);
}

TEST(TransportTest, AtMostFourRequestsInProgress) {
  Probe probe;
  std::string input = kInit;
  for (int i = 1; i <= 16; ++i) input += request(i, "test/slow");
  auto messages = run(probe, input, {8, 4});
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(response(messages, i).at("result"), nullptr) << i;
  EXPECT_LE(probe.max_running, 4);
  EXPECT_GE(probe.max_running, 2);
}

TEST(TransportTest, CancelledRequestThatHasNotStartedIsNotRun) {
  Probe probe;
  FeedSource source;
  MemorySink sink;
  Transport transport(source, sink, {1, 1});
  std::thread server([&] { transport.serve(probe.methods()); });

  source.feed(kInit + request(1, "test/block"));
  ASSERT_TRUE(wait_until([&] { return probe.blocking.load(); }));
  // The only slot is held by request 1, so request 2 waits in the queue; request 1 has
  // started, so its cancellation changes nothing.
  source.feed(request(2, "test/echo", kEcho) + notification("$/cancelRequest", R"({"id":2})") +
              notification("$/cancelRequest", R"({"id":1})"));
  bool cancelled = sink.wait_for(
      [](const auto& messages) {
        json::value answer = response(messages, 2);
        return answer.is_object() && error_code(answer) == -32800;
      },
      10s);
  EXPECT_TRUE(cancelled);
  probe.release.set_value();
  source.end();
  server.join();

  auto messages = sink.messages();
  EXPECT_EQ(response(messages, 1).at("result"), nullptr);  // already running: answered
  EXPECT_EQ(probe.echo_calls, 0);
  EXPECT_EQ(messages.size(), 3u) << json::serialize(json::value_from(messages));
}

// A long document text reaches the handler whole, taken over from the decoder; a long string
// elsewhere in the params, where the params type has no place for it, or in a request's params,
// is put back before decoding; a long text that is not a string fails decoding as any wrong
// member does.
TEST(TransportTest, LongStringsOfParamsReachTheHandlerIntact) {
  const std::string text(200000, 'q');
  const std::string escaped = R"(a\\b\"c\n)" + text;
  auto open = [](std::string_view language, std::string_view text) {
    return notification("test/open", R"({"textDocument":{"uri":"file:///a","languageId":")" +
                                         std::string(language) + R"(","version":1,"text":")" +
                                         std::string(text) + "\"}}");
  };
  Probe probe;
  run(probe, kInit + open("quib", escaped) + open(text, "short") + open(text, escaped) +
                 notification("test/open", R"({"textDocument":{"uri":"u","languageId":"q",)"
                                           R"("version":1,"text":[")" +
                                               text + "\"]}})") +
                 request(7, "test/echo",
                         R"({"textDocument":{"uri":")" + text +
                             R"("},"position":{"line":2,"character":5}})"));
  ASSERT_EQ(probe.opened.size(), 3u);
  EXPECT_EQ(probe.opened[0].text, "a\\b\"c\n" + text);
  EXPECT_EQ(probe.opened[0].languageId, "quib");
  EXPECT_EQ(probe.opened[1].languageId, text);
  EXPECT_EQ(probe.opened[1].text, "short");
  EXPECT_EQ(probe.opened[2].languageId, text);
  EXPECT_EQ(probe.opened[2].text, "a\\b\"c\n" + text);
  EXPECT_EQ(probe.echoed_uris, std::vector<std::string>{text});
}

// Parses what the protocol type's writer wrote, so a writing fault shows as invalid JSON.
template <class T>
json::value written(const T& value) {
  return json::parse(to_json_text(value));
}

TEST(ProtocolTypesTest, AbsentOptionalMembersAreOmitted) {
  EXPECT_EQ(written(ServerCapabilities{}), json::object{});
  EXPECT_EQ(written(PublishDiagnosticsParams{"file:///q", {}, std::nullopt}),
            json::parse(R"({"uri":"file:///q","diagnostics":[]})"));
  EXPECT_EQ(written(PublishDiagnosticsParams{"file:///q", {}, 4}).at("version"), 4);
  EXPECT_EQ(written(Hover{{"markdown", "x"}, std::nullopt}),
            json::parse(R"({"contents":{"kind":"markdown","value":"x"}})"));
  EXPECT_EQ(written(CompletionItem{"group", {}, {}, {}, {}}), json::parse(R"({"label":"group"})"));
  EXPECT_EQ(written(std::optional<Hover>{}), nullptr);
}

TEST(ProtocolTypesTest, DidChangeKeepsEveryContentChangeInOrder) {
  auto params = json::value_to<DidChangeTextDocumentParams>(json::parse(
      R"({"textDocument":{"uri":"u","version":-3},
          "contentChanges":[{"text":"a"},{"range":{},"text":"b"},{"text":"c"}]})"));
  EXPECT_EQ(params.textDocument.version, -3);
  ASSERT_EQ(params.contentChanges.size(), 3u);
  EXPECT_EQ(params.contentChanges[2].text, "c");
  EXPECT_THROW(json::value_to<DidChangeTextDocumentParams>(
                   json::parse(R"({"textDocument":{"uri":"u","version":1},"contentChanges":{}})")),
               ParamsError);
  EXPECT_THROW(json::value_to<DidChangeTextDocumentParams>(json::parse(
                   R"({"textDocument":{"uri":"u","version":4294967296},"contentChanges":[]})")),
               ParamsError);
}

}  // namespace
}  // namespace quib::lsp
