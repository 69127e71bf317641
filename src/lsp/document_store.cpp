#include "lsp/document_store.h"

#include <mutex>

namespace quib::lsp {

DocumentSnapshot::DocumentSnapshot(std::string uri, std::shared_ptr<const std::string> text,
                                   int32_t version)
    : uri(std::move(uri)),
      text_owner(std::move(text)),
      text(*text_owner),
      version(version),
      parse_result(parse(text_owner)),
      model(analyze(parse_result)),
      lines(this->text) {}

void DocumentStore::put(const std::string& uri, std::string text, int32_t version) {
  auto snapshot = std::make_shared<const DocumentSnapshot>(
      uri, std::make_shared<const std::string>(std::move(text)), version);
  std::unique_lock lock(mutex_);
  documents_.insert_or_assign(uri, StoredDocument{std::move(snapshot)});
}

void DocumentStore::remove(const std::string& uri) {
  std::unique_lock lock(mutex_);
  documents_.erase(uri);
}

std::shared_ptr<const DocumentSnapshot> DocumentStore::analyze_document(
    const std::string& uri) const {
  std::shared_lock lock(mutex_);
  auto found = documents_.find(uri);
  if (found == documents_.end()) return nullptr;
  return found->second.snapshot;
}

}  // namespace quib::lsp
