// Fuzzes the whole server in-process: the input is a script of protocol operations (open,
// change, close, every request at arbitrary positions) that the target turns into JSON-RPC
// messages, decodes like the transport does and dispatches through the LanguageServer's method
// table, with the outbox writing into memory. Checks that every request is answered exactly
// once, every document notification publishes once, and every position sent back lies on a
// character of the text it was computed from.
//
// Script: lines starting with "%%" are operations, "%%[doc] op [integers]", for example
// "%% open", "%%1 hover 2 7", "%% range 0 0 3 1"; the lines up to the next operation are the
// text of an open or change. doc is 0 to 2 and picks the URI. Unknown operations are skipped.
// Every other request is answered only at the next "%% wait" or at the end, after the messages
// that follow it, as a request that waits for a free worker is.
#include <boost/json.hpp>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "lsp/protocol.h"

namespace quib::fuzz {
namespace {

using namespace quib::lsp;

constexpr const char* kUris[] = {"file:///fuzz/Quibfile", "file:///fuzz/other/Quibfile",
                                 "untitled:Untitled-1"};
// Each operation analyses a whole document; more than this only slows the run down.
constexpr size_t kMaxOperations = 48;

struct Operation {
  std::string name;
  unsigned doc = 0;
  std::vector<int64_t> numbers;
  std::string text;
};

// Invalid UTF-8 cannot travel in JSON; such bytes become '?'.
std::string sanitize(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = utf8_sequence_length(bytes, i);
    if (length == 0) {
      out += '?';
      ++i;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::vector<Operation> read_script(std::string_view input) {
  std::vector<Operation> operations;
  while (!input.empty() && operations.size() < kMaxOperations) {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (!line.starts_with("%%")) {
      if (!operations.empty()) {
        operations.back().text.append(line);
        if (end != std::string_view::npos) operations.back().text += '\n';
      }
      continue;
    }
    Operation operation;
    std::string_view rest = line.substr(2);
    if (!rest.empty() && rest.front() >= '0' && rest.front() <= '2') {
      operation.doc = static_cast<unsigned>(rest.front() - '0');
      rest.remove_prefix(1);
    }
    std::vector<std::string> words;
    while (!rest.empty()) {
      const size_t space = rest.find(' ');
      if (space != 0) words.emplace_back(rest.substr(0, space));
      rest.remove_prefix(space == std::string_view::npos ? rest.size() : space + 1);
    }
    if (words.empty()) continue;
    operation.name = words[0];
    for (size_t i = 1; i < words.size(); ++i) {
      operation.numbers.push_back(std::strtoll(words[i].c_str(), nullptr, 10));
    }
    operations.push_back(std::move(operation));
  }
  for (Operation& operation : operations) operation.text = sanitize(operation.text);
  return operations;
}

json::object position(const Operation& operation, size_t first) {
  const auto number = [&](size_t i) {
    return i < operation.numbers.size() ? operation.numbers[i] : int64_t{0};
  };
  return {{"line", number(first)}, {"character", number(first + 1)}};
}

// Collects the framed output of the outbox's writer thread.
class MemorySink final : public ByteSink {
 public:
  bool write_all(std::string_view bytes) override {
    bytes_.append(bytes);
    return true;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class StringSource final : public ByteSource {
 public:
  explicit StringSource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t read_some(std::span<char> buffer) override {
    const std::size_t n = std::min(buffer.size(), bytes_.size());
    std::copy_n(bytes_.data(), n, buffer.data());
    bytes_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view bytes_;
};

// True when `position` names a character boundary of `text` (or its end) exactly: converting it
// to an offset and back gives it again.
bool on_character(const LineIndex& index, const json::value& line, const json::value& character) {
  if (!line.is_int64() || !character.is_int64()) return false;
  const Position position{static_cast<uint32_t>(line.get_int64()),
                          static_cast<uint32_t>(character.get_int64())};
  if (line.get_int64() < 0 || character.get_int64() < 0) return false;
  return index.position_of(index.offset_of(position)) == position;
}

// Every position, range and folding range anywhere inside `value` must fit `text`.
void check_positions(const LineIndex& index, const json::value& value) {
  if (const json::array* array = value.if_array()) {
    for (const json::value& element : *array) check_positions(index, element);
    return;
  }
  const json::object* object = value.if_object();
  if (object == nullptr) return;
  if (object->contains("line") && object->contains("character")) {
    FUZZ_CHECK(on_character(index, object->at("line"), object->at("character")),
               "a position lies on a character of its text");
  }
  if (object->contains("startLine")) {
    FUZZ_CHECK(on_character(index, object->at("startLine"), object->at("startCharacter")),
               "a folding range starts on a character of its text");
    FUZZ_CHECK(on_character(index, object->at("endLine"), object->at("endCharacter")),
               "a folding range ends on a character of its text");
  }
  if (const json::value* start = object->if_contains("start")) {
    const json::value* end = object->if_contains("end");
    if (start->is_object() && end != nullptr && end->is_object()) {
      const auto key = [](const json::value& p) {
        return std::pair(p.at("line").to_number<int64_t>(), p.at("character").to_number<int64_t>());
      };
      FUZZ_CHECK(key(*start) <= key(*end), "a range does not end before it starts");
    }
  }
  for (const auto& member : *object) check_positions(index, member.value());
}

// The relative token encoding decodes to tokens that each lie inside one line of the text. A
// token may be empty: the name of an empty reference ("{{}}") is coloured as a zero-length
// variable right after its opening braces.
void check_semantic_tokens(const LineIndex& index, const json::value& result) {
  const json::object* object = result.if_object();
  if (object == nullptr || !object->contains("data")) return;
  const json::array& data = object->at("data").as_array();
  FUZZ_CHECK(data.size() % 5 == 0, "semantic tokens come in fives");
  uint64_t line = 0;
  uint64_t start = 0;
  for (size_t i = 0; i + 4 < data.size(); i += 5) {
    const auto delta_line = data[i].to_number<uint64_t>();
    const auto delta_start = data[i + 1].to_number<uint64_t>();
    line += delta_line;
    start = delta_line == 0 ? start + delta_start : delta_start;
    const uint64_t end = start + data[i + 2].to_number<uint64_t>();
    FUZZ_CHECK(line <= UINT32_MAX && end <= UINT32_MAX, "a semantic token fits 32 bits");
    const Position first{static_cast<uint32_t>(line), static_cast<uint32_t>(start)};
    const Position last{static_cast<uint32_t>(line), static_cast<uint32_t>(end)};
    FUZZ_CHECK(index.position_of(index.offset_of(first)) == first,
               "a semantic token starts on a character of its line");
    FUZZ_CHECK(index.position_of(index.offset_of(last)) == last,
               "a semantic token ends on a character of its line");
  }
}

class Session {
 public:
  Session() : outbox_(sink_), server_(ClientHandle(outbox_)), table_(server_.methods()) {}

  void run(const std::vector<Operation>& operations) {
    send_request("initialize", json::object{{"capabilities", json::object()}});
    send_notification("initialized", json::object());
    for (const Operation& operation : operations) perform(operation);
    answer_waiting();
    outbox_.close();
    check_output();
  }

 private:
  void perform(const Operation& operation) {
    const std::string uri = kUris[operation.doc];
    const json::object document{{"uri", uri}};
    const auto number = [&](size_t i, int64_t fallback) {
      return i < operation.numbers.size() ? operation.numbers[i] : fallback;
    };
    const std::string& name = operation.name;
    if (name == "open") {
      document_notification("textDocument/didOpen", uri, operation.text,
                            {{"textDocument",
                              {{"uri", uri},
                               {"languageId", "quib"},
                               {"version", ++version_},
                               {"text", operation.text}}}});
    } else if (name == "change") {
      // "change 0" sends no change at all; "change n" sends n, of which only the last counts.
      json::array changes;
      const int64_t count = std::clamp<int64_t>(number(0, 1), 0, 3);
      for (int64_t i = 1; i < count; ++i) changes.push_back({{"text", "stale"}});
      if (count > 0) changes.push_back({{"text", operation.text}});
      const auto stored = texts_.find(uri);
      const std::optional<std::string> after =
          count > 0 ? std::optional(operation.text)
                    : (stored != texts_.end() ? stored->second : std::optional<std::string>());
      document_notification(
          "textDocument/didChange", uri, after,
          {{"textDocument", {{"uri", uri}, {"version", ++version_}}}, {"contentChanges", changes}});
    } else if (name == "close") {
      document_notification("textDocument/didClose", uri, std::nullopt,
                            {{"textDocument", document}});
    } else if (name == "hover" || name == "completion") {
      send_request("textDocument/" + name,
                   {{"textDocument", document}, {"position", position(operation, 0)}}, uri);
    } else if (name == "symbols" || name == "folding" || name == "tokens" || name == "format") {
      static const std::map<std::string, std::string, std::less<>> kMethods{
          {"symbols", "textDocument/documentSymbol"},
          {"folding", "textDocument/foldingRange"},
          {"tokens", "textDocument/semanticTokens/full"},
          {"format", "textDocument/formatting"}};
      json::object params{{"textDocument", document}};
      if (name == "format") params["options"] = {{"tabSize", 4}, {"insertSpaces", true}};
      send_request(kMethods.at(name), params, uri);
    } else if (name == "range") {
      send_request("textDocument/rangeFormatting",
                   {{"textDocument", document},
                    {"range", {{"start", position(operation, 0)}, {"end", position(operation, 2)}}},
                    {"options", {{"tabSize", 4}, {"insertSpaces", true}}}},
                   uri);
    } else if (name == "wait") {
      answer_waiting();
    } else if (name == "shutdown") {
      send_request("shutdown", nullptr);
    } else if (name == "unknown") {
      send_request("textDocument/definition",
                   {{"textDocument", document}, {"position", position(operation, 0)}});
    } else if (name == "junk") {
      // Params of the wrong shape: a position that is a string, a document without a URI.
      send_request("textDocument/hover", {{"textDocument", document}, {"position", "here"}});
      send_request("textDocument/formatting", {{"textDocument", json::object()}});
      send_notification("textDocument/didOpen", {{"textDocument", document}});
    }
  }

  // Sends one didOpen/didChange/didClose and records the text its publication must fit.
  void document_notification(std::string_view method, const std::string& uri,
                             std::optional<std::string> text_after, json::object params) {
    if (text_after) {
      texts_[uri] = *text_after;
    } else {
      texts_.erase(uri);
    }
    published_texts_.push_back(std::move(text_after));
    send_notification(method, std::move(params));
  }

  // Encodes, decodes and dispatches like the transport: an unknown method gets "Method not
  // found", any other request its handler's one outcome.
  void send_request(std::string_view method, json::value params, const std::string& uri = "") {
    const int64_t id = ++last_id_;
    const auto stored = texts_.find(uri);
    request_texts_[id] = stored != texts_.end() ? stored->second : std::optional<std::string>();
    json::object message{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}};
    if (!params.is_null()) message["params"] = std::move(params);
    const Incoming incoming = decode_message(json::serialize(message));
    const auto* request = std::get_if<Request>(&incoming);
    FUZZ_CHECK(request != nullptr, "a well-formed request decodes as one");
    const MethodTable::RequestHandler* handler = table_.request(request->method);
    if (handler == nullptr) {
      outbox_.send(encode_error(request->id, {ErrorCode::MethodNotFound, "Method not found"}), {});
      return;
    }
    MethodTable::RequestJob job = (*handler)(request->params);
    // A worker may take a request up only after later messages have been handled: every
    // other request waits for the next "wait" operation or the end of the script, and its
    // answer must be the one it would have had at once.
    if (id % 2 == 1 && method != "initialize" && method != "shutdown") {
      waiting_.push_back({request->id, std::move(job), text_of((*handler)(request->params)())});
      return;
    }
    answer(request->id, job());
  }

  static std::string text_of(const RequestOutcome& outcome) {
    if (const auto* result = std::get_if<JsonText>(&outcome)) return result->text;
    return encode_error(nullptr, std::get<ResponseError>(outcome));
  }

  void answer(const json::value& id, RequestOutcome outcome) {
    if (auto* result = std::get_if<JsonText>(&outcome)) {
      result->text.append(kBodyEnd);
      outbox_.send(result_opening(id), std::move(result->text));
    } else {
      outbox_.send(encode_error(id, std::get<ResponseError>(outcome)), {});
    }
  }

  void answer_waiting() {
    for (WaitingRequest& request : waiting_) {
      RequestOutcome outcome = request.job();
      FUZZ_CHECK(text_of(outcome) == request.answer_at_once,
                 "a request answers as when it came, whatever came after it");
      answer(request.id, std::move(outcome));
    }
    waiting_.clear();
  }

  void send_notification(std::string_view method, json::value params) {
    const json::object message{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}};
    Incoming incoming = decode_message(json::serialize(message));
    auto* notification = std::get_if<Notification>(&incoming);
    FUZZ_CHECK(notification != nullptr, "a well-formed notification decodes as one");
    if (const auto* handler = table_.notification(notification->method)) {
      (*handler)(std::move(notification->params), std::move(notification->detached));
    }
  }

  void check_output() {
    StringSource source(sink_.bytes());
    MessageReader reader(source);
    std::map<int64_t, int> answers;
    size_t publications = 0;
    for (;;) {
      Frame frame = reader.next();
      if (std::holds_alternative<EndOfInput>(frame)) break;
      const auto* body = std::get_if<std::string>(&frame);
      FUZZ_CHECK(body != nullptr, "the server frames every message");
      const json::value message = json::parse(*body);
      const json::object& object = message.as_object();
      if (const json::value* id = object.if_contains("id")) {
        const int64_t n = id->as_int64();
        ++answers[n];
        const auto text = request_texts_.find(n);
        FUZZ_CHECK(text != request_texts_.end(), "an answer has the id of a request");
        if (object.contains("result") && text->second) {
          const LineIndex index(*text->second);
          check_positions(index, object.at("result"));
          check_semantic_tokens(index, object.at("result"));
        }
        continue;
      }
      if (object.at("method") != "textDocument/publishDiagnostics") continue;
      FUZZ_CHECK(publications < published_texts_.size(), "one publication per notification");
      const std::optional<std::string>& text = published_texts_[publications++];
      const json::array& diagnostics = object.at("params").at("diagnostics").as_array();
      if (!text) {
        FUZZ_CHECK(diagnostics.empty(), "a closed document publishes no diagnostics");
        continue;
      }
      check_positions(LineIndex(*text), diagnostics);
    }
    FUZZ_CHECK(publications == published_texts_.size(), "every notification publishes");
    FUZZ_CHECK(answers.size() == static_cast<size_t>(last_id_), "every request is answered");
    for (const auto& [id, count] : answers) {
      FUZZ_CHECK(count == 1, "every request is answered exactly once");
    }
  }

  MemorySink sink_;
  Outbox outbox_;
  LanguageServer server_;
  MethodTable table_;
  int64_t last_id_ = 0;
  int32_t version_ = 0;
  // The text of each open document as the script has made it.
  std::map<std::string, std::string, std::less<>> texts_;
  // A request made but not yet answered, and the answer it had when it came.
  struct WaitingRequest {
    json::value id;
    MethodTable::RequestJob job;
    std::string answer_at_once;
  };
  // In the order they came.
  std::vector<WaitingRequest> waiting_;
  // Per request id, the text its answer refers to (none when the document is not open).
  std::map<int64_t, std::optional<std::string>> request_texts_;
  // Per document notification, in order, the text its diagnostics refer to.
  std::vector<std::optional<std::string>> published_texts_;
};

}  // namespace
}  // namespace quib::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<quib::fuzz::Operation> operations =
      quib::fuzz::read_script(std::string_view(reinterpret_cast<const char*>(data), size));
  quib::fuzz::Session().run(operations);
  return 0;
}
