// Cost of one framed 1 MB `textDocument/didOpen` through the transport: framing, JSON parse,
// params decoding, dispatch, and serialising a reply of the same size. Measures no Quibfile work.
#include <benchmark/benchmark.h>

#include <boost/json.hpp>
#include <cstring>
#include <string>

#include "lsp/protocol_types.h"
#include "lsp/transport.h"

namespace quib::lsp {
namespace {

constexpr std::size_t kDocumentBytes = 1024 * 1024;

// A Quibfile-like text of about kDocumentBytes, with quotes and tabs so that JSON escaping is
// exercised.
std::string make_document() {
  std::string text;
  for (int i = 0; text.size() < kDocumentBytes; ++i) {
    text += "build_" + std::to_string(i) + "(target=\"x\") ? @os(\"linux\") & setup:\n";
    text += "\tcc -o \"{{ target }}\" main.c\n\n";
  }
  return text;
}

std::string did_open_message(const std::string& text) {
  json::object params{{"textDocument", json::object{{"uri", "file:///bench/Quibfile"},
                                                    {"languageId", "quibfile"},
                                                    {"version", 1},
                                                    {"text", text}}}};
  return frame(json::serialize(json::object{
      {"jsonrpc", "2.0"}, {"method", "textDocument/didOpen"}, {"params", std::move(params)}}));
}

// Serves the bytes of one string, then end of input.
class StringSource final : public ByteSource {
 public:
  explicit StringSource(const std::string& bytes) : bytes_(bytes) {}
  std::size_t read_some(std::span<char> buffer) override {
    std::size_t n = std::min(buffer.size(), bytes_.size() - at_);
    std::memcpy(buffer.data(), bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

class CountingSink final : public ByteSink {
 public:
  bool write_all(std::string_view bytes) override {
    written += bytes.size();
    return true;
  }
  std::size_t written = 0;
};

// Echoes the opened text back as a notification: the largest reply a didOpen could cause.
struct EchoServer {
  Outbox* outbox = nullptr;
  std::string last_reply;

  InitializeResult on_initialize(const InitializeParams&) { return {}; }
  void on_did_open(const DidOpenTextDocumentParams& params) {
    JsonText reply{to_json_text(TextEdit{{}, params.textDocument.text})};
    if (outbox != nullptr) {
      outbox->notify("bench/echo", std::move(reply));
    } else {
      reply.text.append(kBodyEnd);
      last_reply = frame(notification_opening("bench/echo") + reply.text);
    }
  }
  MethodTable methods() {
    MethodTable table;
    Router<EchoServer> router(*this, table);
    router.on_request("initialize", &EchoServer::on_initialize);
    router.on_notification("textDocument/didOpen", &EchoServer::on_did_open);
    return table;
  }
};

// The pieces of the transport called in sequence on one thread: no queues, no thread hops.
void BM_DidOpenRoundTripInline(benchmark::State& state) {
  const std::string input = did_open_message(make_document());
  EchoServer server;
  MethodTable methods = server.methods();
  for (auto _ : state) {
    StringSource source(input);
    MessageReader reader(source);
    Frame frame = reader.next();
    Incoming message = decode_message(std::get<std::string>(frame));
    Notification& note = std::get<Notification>(message);
    (*methods.notification(note.method))(std::move(note.params), std::move(note.detached));
    benchmark::DoNotOptimize(server.last_reply.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_DidOpenRoundTripInline)->Unit(benchmark::kMillisecond);

// The whole transport: reader and writer threads, worker pool, lifecycle gate. Each iteration
// starts a connection, so thread start-up and shutdown are included.
void BM_DidOpenRoundTripTransport(benchmark::State& state) {
  const std::string input = frame(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})") +
                            did_open_message(make_document());
  for (auto _ : state) {
    StringSource source(input);
    CountingSink sink;
    {
      Transport transport(source, sink);
      EchoServer server;
      server.outbox = &transport.outbox();
      transport.serve(server.methods());
    }
    benchmark::DoNotOptimize(sink.written);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_DidOpenRoundTripTransport)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quib::lsp
