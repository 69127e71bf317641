// Storage and lookup of the method table. Decoding and binding are templates in the header.
#include "lsp/transport_router.h"

#include "syntax/assert.h"

namespace quib::lsp {

void MethodTable::add_request(std::string method, RequestHandler handler) {
  bool added = requests_.emplace(std::move(method), std::move(handler)).second;
  QUIB_ASSERT(added, "a request method must be registered only once");
}

void MethodTable::add_notification(std::string method, NotificationHandler handler) {
  bool added = notifications_.emplace(std::move(method), std::move(handler)).second;
  QUIB_ASSERT(added, "a notification method must be registered only once");
}

const MethodTable::RequestHandler* MethodTable::request(std::string_view method) const {
  auto it = requests_.find(method);
  return it == requests_.end() ? nullptr : &it->second;
}

const MethodTable::NotificationHandler* MethodTable::notification(std::string_view method) const {
  auto it = notifications_.find(method);
  return it == notifications_.end() ? nullptr : &it->second;
}

}  // namespace quib::lsp
