// JSON-RPC 2.0 classification and serialisation. Lifecycle rules and routing live elsewhere.
#include "lsp/transport_jsonrpc.h"

#include <memory>

#include <boost/json/parser.hpp>
#include <boost/json/serialize.hpp>

namespace quib::lsp {

namespace {

bool valid_id(const json::value& id) {
  return id.is_string() || id.is_int64() || id.is_uint64();
}

InvalidMessage invalid(json::value id) {
  return InvalidMessage{std::move(id), {ErrorCode::InvalidRequest, "Invalid request"}};
}

}  // namespace

Incoming decode_message(std::string_view body) {
  // The parser unescapes each string into a temporary buffer before copying it into the value.
  // Sized for the whole body up front, that buffer never grows by copying; only the pages a
  // message's strings use are touched. A large document's text thus costs its size once more
  // while parsed, not one and a half times.
  const std::unique_ptr<unsigned char[]> scratch(new unsigned char[body.size() + 1]);
  json::parser parser(json::storage_ptr(), json::parse_options(), scratch.get(), body.size() + 1);
  json::error_code ec;
  parser.write(body.data(), body.size(), ec);
  if (ec) return InvalidMessage{nullptr, {ErrorCode::ParseError, "Parse error"}, true};
  json::value doc = parser.release();
  json::object* message = doc.if_object();
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
  if (id == nullptr) return Notification{std::move(name), std::move(params)};
  if (!valid_id(*id)) return invalid(nullptr);
  return Request{std::move(answer_id), std::move(name), std::move(params)};
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
