// The method table: method name to a type-erased handler that decodes params, calls the server
// and encodes the result. Knows no method names; the server fills the table in one place.
#pragma once

#include <boost/json/value.hpp>
#include <boost/json/value_to.hpp>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "lsp/json_writer.h"
#include "lsp/transport_jsonrpc.h"

namespace quib::lsp {

// Thrown by a param conversion (`value_to`) when the JSON does not have the protocol's shape;
// the router turns it into -32602 and the handler is not called.
class ParamsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using RequestOutcome = std::variant<JsonText, ResponseError>;

class MethodTable {
 public:
  // The work that answers one request, run on a worker thread.
  using RequestJob = std::function<RequestOutcome()>;
  // Runs on the serve loop, in message order, and returns the request's job: whatever the
  // answer must see of the server's state (a document's text) it takes here, as the messages
  // before the request left it, not as later ones leave it by the time a worker is free.
  using RequestHandler = std::function<RequestJob(const json::value& params)>;
  // A notification whose params do not decode is dropped: there is no one to answer. The
  // handler owns its params and their detached strings, so a document text is taken over
  // rather than copied.
  using NotificationHandler = std::function<void(json::value params, DetachedStrings detached)>;

  void add_request(std::string method, RequestHandler handler);
  void add_notification(std::string method, NotificationHandler handler);

  // Null when the method is not in the table.
  const RequestHandler* request(std::string_view method) const;
  const NotificationHandler* notification(std::string_view method) const;

 private:
  std::map<std::string, RequestHandler, std::less<>> requests_;
  std::map<std::string, NotificationHandler, std::less<>> notifications_;
};

// Decodes params through `value_to<Params>`; any exception thrown by the conversion (a
// ParamsError, or Boost.JSON's own for a wrong kind) means the params are invalid.
template <class Params>
std::variant<Params, ResponseError> decode_params(const json::value& params) {
  try {
    return json::value_to<Params>(params);
  } catch (const std::exception& e) {
    return ResponseError{ErrorCode::InvalidParams, std::string("Invalid params: ") + e.what()};
  }
}

// Moves detached strings into the decoded params when the params type takes every one of
// them: it declares `std::string* detached_target(Params&, std::string_view pointer)`, giving
// the member that a string detached at `pointer` belongs in, or null. False when some string
// has no place, and then none has been moved.
template <class Params>
bool attach_detached(Params& params, DetachedStrings& detached) {
  if constexpr (requires(std::string_view pointer) { detached_target(params, pointer); }) {
    std::vector<std::string*> targets;
    targets.reserve(detached.size());
    for (const DetachedString& d : detached) {
      std::string* target = detached_target(params, d.pointer);
      if (target == nullptr) return false;
      targets.push_back(target);
    }
    for (size_t i = 0; i < detached.size(); ++i) *targets[i] = std::move(detached[i].text);
    detached.clear();
    return true;
  } else {
    return false;
  }
}

// A notification's params, with its detached strings moved into them, or nothing when they
// do not decode. They are decoded with empty strings in the detached places first; if the params
// type cannot take every detached string over, the strings go back into the JSON and the params
// are decoded again. `raw` is left null: the JSON goes before the handler runs, so a text that
// was not detached is not held twice while it is analysed.
template <class Params>
std::optional<Params> decode_notification_params(json::value& raw, DetachedStrings& detached) {
  auto params = decode_params<Params>(raw);
  if (!detached.empty()) {
    auto* decoded = std::get_if<Params>(&params);
    if (decoded == nullptr || !attach_detached(*decoded, detached)) {
      reattach(raw, std::move(detached));
      params = decode_params<Params>(raw);
    }
  }
  raw = nullptr;
  auto* decoded = std::get_if<Params>(&params);
  if (decoded == nullptr) return std::nullopt;
  return std::move(*decoded);
}

// The answer of a request, computed later on a worker from what the handler took on the serve
// loop (see MethodTable::RequestHandler).
template <class Result>
using Deferred = std::function<Result()>;

// Binds member functions of one server object into a MethodTable. A request handler has the
// shape `Result Server::on_x(Params)` with `write_json(JsonWriter&, const Result&)` defined, or
// returns its result already written (`JsonText`, sent as it is); it runs on a worker. A handler
// `Deferred<Result> Server::on_x(Params)` runs on the serve loop instead and returns the work
// that computes its result on a worker. A notification handler is `void Server::on_y(Params)`.
// `Params` may be taken by const reference, or by rvalue reference to take over what was
// decoded (a document text) without a copy. The server must outlive the table.
template <class Server>
class Router {
 public:
  Router(Server& server, MethodTable& table) : server_(server), table_(table) {}

  template <class Result, class Param>
  void on_request(std::string method, Result (Server::*handler)(Param)) {
    using Params = std::remove_cvref_t<Param>;
    Server* server = &server_;
    table_.add_request(std::move(method), [server, handler](const json::value& raw) {
      return with_params<Params>(raw, [server, handler](Params params) -> MethodTable::RequestJob {
        return [server, handler, params = std::move(params)]() mutable {
          return outcome((server->*handler)(std::move(params)));
        };
      });
    });
  }

  template <class Result, class Param>
  void on_request(std::string method, Deferred<Result> (Server::*handler)(Param)) {
    using Params = std::remove_cvref_t<Param>;
    Server* server = &server_;
    table_.add_request(std::move(method), [server, handler](const json::value& raw) {
      return with_params<Params>(raw, [server, handler](Params params) -> MethodTable::RequestJob {
        return [answer = (server->*handler)(std::move(params))] { return outcome(answer()); };
      });
    });
  }

  template <class Param>
  void on_notification(std::string method, void (Server::*handler)(Param)) {
    using Params = std::remove_cvref_t<Param>;
    Server* server = &server_;
    table_.add_notification(
        std::move(method), [server, handler](json::value raw, DetachedStrings detached) {
          std::optional<Params> params = decode_notification_params<Params>(raw, detached);
          if (params) (server->*handler)(std::move(*params));
        });
  }

 private:
  // The job of a request: `bind(params)` when the params decode, else one that answers their
  // error.
  template <class Params, class Bind>
  static MethodTable::RequestJob with_params(const json::value& raw, Bind bind) {
    auto params = decode_params<Params>(raw);
    if (auto* error = std::get_if<ResponseError>(&params)) {
      return [error = std::move(*error)] { return RequestOutcome(error); };
    }
    return bind(std::move(std::get<Params>(params)));
  }

  template <class Result>
  static RequestOutcome outcome(Result result) {
    if constexpr (std::is_same_v<Result, JsonText>) {
      return RequestOutcome(std::move(result));
    } else {
      return RequestOutcome(JsonText{to_json_text(result)});
    }
  }

  Server& server_;
  MethodTable& table_;
};

}  // namespace quib::lsp
