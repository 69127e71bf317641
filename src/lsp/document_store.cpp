#include "lsp/document_store.h"

#include <functional>
#include <mutex>
#include <utility>

#include "lsp/large_buffers.h"

namespace quib::lsp {

namespace {

// The bytes of text whose parse takes about as long as emptying the model of a text of
// `text_bytes`: a fiftieth of them (most of a model's records are in a few pools, freed whole).
size_t parse_bytes_like_emptying(uint32_t text_bytes) {
  return text_bytes / 50;
}

// The tree of `text`, going on from `prefix` if given, parsed while the helper thread empties
// `retired`'s model into `retired.emptied`.
ParseResult parse_retiring(std::shared_ptr<const std::string> text, RetiredModel& retired,
                           ParsedPrefixPtr prefix) {
  if (retired.model == SemanticModel()) {
    return parse_tree(std::move(text), {}, 0, std::move(prefix));
  }
  const std::function<void()> empty_retired = [&retired] {
    retired.emptied = empty_model(retired.model);
  };
  return parse_tree(std::move(text), empty_retired, parse_bytes_like_emptying(retired.text_bytes),
                    std::move(prefix));
}

}  // namespace

DocumentSnapshot::DocumentSnapshot(std::string uri, std::shared_ptr<const std::string> text,
                                   int32_t version, RetiredModel retired, ParsedPrefixPtr prefix)
    : uri(std::move(uri)),
      text_owner(std::move(text)),
      text(*text_owner),
      version(version),
      parse_result(parse_retiring(text_owner, retired, std::move(prefix))),
      model(analyze(parse_result, std::move(retired.emptied))),
      folding_regions(folding_ranges(model)) {}

const LineIndex& DocumentSnapshot::lines() const {
  std::call_once(lines_built_, [&] { lines_.emplace(text); });
  return *lines_;
}

DocumentSnapshot::~DocumentSnapshot() {
  clear_model(model);
}

void DocumentStore::put(const std::string& uri, std::string text, int32_t version,
                        ParsedPrefixPtr prefix) {
  std::shared_ptr<DocumentSnapshot> previous;
  {
    std::unique_lock lock(mutex_);
    auto found = documents_.find(uri);
    if (found != documents_.end()) {
      previous = std::move(found->second.snapshot);
    } else {
      documents_.emplace(uri, StoredDocument{});
    }
  }
  // Out of the map, the old snapshot gains no new holder: held by the store alone, its model
  // is read by nobody else.
  RetiredModel retired;
  if (previous && previous.use_count() == 1) {
    retired.model = std::move(previous->model);
    retired.text_bytes = static_cast<uint32_t>(previous->text.size());
  } else {
    std::lock_guard lock(spare_storage_mutex_);
    retired.emptied = std::exchange(spare_storage_, {});
  }
  // Freed here unless a request still holds it; either way the store no longer keeps it. The
  // old tree goes first, so that the new tree can take its buffer.
  previous.reset();
  std::shared_ptr<DocumentSnapshot> snapshot;
  try {
    snapshot = std::make_shared<DocumentSnapshot>(uri, shared_text(std::move(text)), version,
                                                  std::move(retired), std::move(prefix));
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
  std::shared_ptr<DocumentSnapshot> removed;
  {
    std::unique_lock lock(mutex_);
    auto found = documents_.find(uri);
    if (found == documents_.end()) return;
    removed = std::move(found->second.snapshot);
    documents_.erase(found);
  }
  snapshot_ready_.notify_all();
  if (removed && removed.use_count() == 1) {
    ModelStorage storage = empty_model(removed->model);
    std::lock_guard lock(spare_storage_mutex_);
    spare_storage_ = std::move(storage);
  }
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
