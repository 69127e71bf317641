// JSON-RPC 2.0 classification and serialisation. Lifecycle rules and routing live elsewhere.
#include "lsp/transport_jsonrpc.h"

#include <boost/json/serialize.hpp>

namespace quib::lsp {

namespace {

bool valid_id(const json::value& id) {
  return id.is_string() || id.is_int64() || id.is_uint64();
}

InvalidMessage invalid(json::value id) {
  return InvalidMessage{std::move(id), {ErrorCode::InvalidRequest, "Invalid request"}};
}

// The message a parsed body holds, or the error to answer it with.
Incoming classify(std::optional<ParsedBody> parsed) {
  if (!parsed) return InvalidMessage{nullptr, {ErrorCode::ParseError, "Parse error"}, true};
  json::object* message = parsed->value.if_object();
  if (message == nullptr) return invalid(nullptr);

  const json::value* id = message->if_contains("id");
  json::value answer_id = (id != nullptr && valid_id(*id)) ? *id : json::value(nullptr);
  const json::value* version = message->if_contains("jsonrpc");
  if (version == nullptr || !version->is_string() || version->get_string() != "2.0") {
    return invalid(std::move(answer_id));
  }

  const json::value* method = message->if_contains("method");
  if (method == nullptr) {
    if (id != nullptr && (message->contains("result") || message->contains("error"))) {
      return ClientResponse{};
    }
    return invalid(std::move(answer_id));
  }
  if (!method->is_string()) return invalid(std::move(answer_id));
  // Params may be absent, an object or an array; anything else is not a request. Some
  // clients write an explicit null for "no params", so null counts as absent.
  json::value params = nullptr;
  if (json::value* p = message->if_contains("params"); p != nullptr && !p->is_null()) {
    if (!p->is_object() && !p->is_array()) return invalid(std::move(answer_id));
    params = std::move(*p);
  }
  std::string name(method->get_string());
  if (id == nullptr) {
    return Notification{std::move(name), std::move(params), std::move(parsed->detached)};
  }
  if (!valid_id(*id)) return invalid(nullptr);
  // Requests carry no document text; their handlers read the params as JSON only.
  if (!parsed->detached.empty()) reattach(params, std::move(parsed->detached));
  return Request{std::move(answer_id), std::move(name), std::move(params)};
}

}  // namespace

Incoming decode_message(std::string_view body) {
  return classify(parse_body(body));
}

Incoming decode_message_in_place(std::string& body, size_t& rewritten, LongStringWatcher* watcher) {
  InPlaceParse parse = parse_body_in_place(body, kDetachedStringMin, watcher);
  rewritten = parse.rewritten;
  return classify(std::move(parse.parsed));
}

std::string result_opening(const json::value& id) {
  return R"({"jsonrpc":"2.0","id":)" + json::serialize(id) + R"(,"result":)";
}

std::string notification_opening(std::string_view method) {
  return R"({"jsonrpc":"2.0","method":)" + json::serialize(json::string_view(method)) +
         R"(,"params":)";
}

std::string encode_error(const json::value& id, const ResponseError& error) {
  json::object detail{{"code", static_cast<int>(error.code)}, {"message", error.message}};
  return json::serialize(
      json::object{{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(detail)}});
}

}  // namespace quib::lsp
