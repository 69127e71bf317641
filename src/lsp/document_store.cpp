#include "lsp/document_store.h"

#include <mutex>

namespace quib::lsp {

DocumentSnapshot::DocumentSnapshot(std::string uri, std::shared_ptr<const std::string> text,
                                   int32_t version)
    : uri(std::move(uri)),
      text_owner(std::move(text)),
      text(*text_owner),
      version(version),
      parse_result(parse_tree(text_owner)),
      model(analyze(parse_result)) {}

const LineIndex& DocumentSnapshot::lines() const {
  std::call_once(lines_built_, [&] { lines_.emplace(text); });
  return *lines_;
}

DocumentSnapshot::~DocumentSnapshot() {
  clear_model(model);
}

void DocumentStore::put(const std::string& uri, std::string text, int32_t version) {
  std::shared_ptr<const DocumentSnapshot> previous;
  {
    std::unique_lock lock(mutex_);
    auto found = documents_.find(uri);
    if (found != documents_.end()) {
      previous = std::move(found->second.snapshot);
    } else {
      documents_.emplace(uri, StoredDocument{});
    }
  }
  // Freed here unless a request still holds it; either way the store no longer keeps it.
  previous.reset();
  std::shared_ptr<const DocumentSnapshot> snapshot;
  try {
    snapshot = std::make_shared<const DocumentSnapshot>(
        uri, std::make_shared<const std::string>(std::move(text)), version);
  } catch (...) {
    // Only running out of memory gets here. The document is dropped rather than left
    // half-stored, so that no reader waits for it forever.
    remove(uri);
    throw;
  }
  {
    std::unique_lock lock(mutex_);
    documents_.insert_or_assign(uri, StoredDocument{std::move(snapshot)});
  }
  snapshot_ready_.notify_all();
}

void DocumentStore::remove(const std::string& uri) {
  {
    std::unique_lock lock(mutex_);
    documents_.erase(uri);
  }
  snapshot_ready_.notify_all();
}

std::shared_ptr<const DocumentSnapshot> DocumentStore::analyze_document(
    const std::string& uri) const {
  std::shared_lock lock(mutex_);
  for (;;) {
    auto found = documents_.find(uri);
    if (found == documents_.end()) return nullptr;
    if (found->second.snapshot) return found->second.snapshot;
    snapshot_ready_.wait(lock);
  }
}

}  // namespace quib::lsp
