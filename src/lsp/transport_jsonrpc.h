// JSON-RPC 2.0 messages: classifying an incoming body and writing outgoing bodies.
// Knows the wire shape of a message, not what any method means.
#pragma once

#include <boost/json/value.hpp>
#include <string>
#include <string_view>
#include <variant>

#include "lsp/transport_body.h"

namespace quib::lsp {

namespace json = boost::json;

enum class ErrorCode : int {
  ParseError = -32700,
  InvalidRequest = -32600,
  MethodNotFound = -32601,
  InvalidParams = -32602,
  ServerNotInitialized = -32002,
  RequestCancelled = -32800,
};

// An error answer to one request; what the client sees in `error`.
struct ResponseError {
  ErrorCode code;
  std::string message;
};

// Invariant: `id` is a string or an integer.
struct Request {
  json::value id;
  std::string method;
  json::value params;  // null when absent
};

struct Notification {
  std::string method;
  json::value params;  // null when absent
  // Long strings of the params, taken out of them (see parse_body).
  DetachedStrings detached;
};

// A body that is not a usable message. `id` is the request's id when one could be read, else
// null; `parse_failed` tells the reader that the framing itself may be off.
struct InvalidMessage {
  json::value id;
  ResponseError error;
  bool parse_failed = false;
};

// A response from the client. This server sends no requests, so it has nothing to match.
struct ClientResponse {};

using Incoming = std::variant<Request, Notification, InvalidMessage, ClientResponse>;

// Never throws: every body yields a message or the error to answer it with.
Incoming decode_message(std::string_view body);
// The same, parsing `body` in place (see `parse_body_in_place`): a document text takes the body's
// storage over. When the body is not JSON, `rewritten` tells how many of its first bytes were
// overwritten; the rest is as it arrived. `watcher`, when given, is told how the decoding goes.
Incoming decode_message_in_place(std::string& body, size_t& rewritten,
                                 LongStringWatcher* watcher = nullptr);

// A request's result or a notification's params, already written as JSON text.
struct JsonText {
  std::string text;
};

// Outgoing bodies are written in two parts, so that a large result or params text is sent
// as it is, never copied into an envelope: the envelope's opening up to the value, then the
// value followed by `kBodyEnd`.
inline constexpr std::string_view kBodyEnd = "}";
std::string result_opening(const json::value& id);
std::string notification_opening(std::string_view method);
// A whole error response body.
std::string encode_error(const json::value& id, const ResponseError& error);

}  // namespace quib::lsp
