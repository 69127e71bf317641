// The DocumentStore keeps the current text and version of every open document and nothing
// else; every consumer asks it for a DocumentSnapshot, a fresh and self-contained analysis of
// the stored text. Knows nothing of JSON.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "lsp/position.h"
#include "semantic/analyze.h"
#include "syntax/parse.h"

namespace quib::lsp {

// Texts are immutable once stored and shared with the snapshots made from them, so a
// snapshot of a large document costs no copy of its text.
struct StoredDocument {
  std::shared_ptr<const std::string> text;
  int32_t version = 0;
};

// One analysis of one stored text: owns everything it refers to and needs no lock.
// Invariant: every range in `parse_result` and `model` is a byte range of `text`, and `lines`
// indexes that same text.
struct DocumentSnapshot {
  DocumentSnapshot(std::string uri, std::shared_ptr<const std::string> text, int32_t version);
  DocumentSnapshot(const DocumentSnapshot&) = delete;
  DocumentSnapshot& operator=(const DocumentSnapshot&) = delete;

  std::string uri;
  std::shared_ptr<const std::string> text_owner;
  std::string_view text;
  int32_t version;
  ParseResult parse_result;
  SemanticModel model;
  LineIndex lines;
};

// URI text -> StoredDocument under one reader-writer lock. Writers hold it only for the map
// update; readers hold it through parsing and analysis, so a reader never sees a half-updated
// entry.
class DocumentStore {
 public:
  // Inserts or replaces the entry.
  void put(const std::string& uri, std::string text, int32_t version);
  // Removes the entry, if any.
  void remove(const std::string& uri);
  // A fresh snapshot of the stored text; nullptr when the URI is not stored.
  std::shared_ptr<const DocumentSnapshot> analyze_document(const std::string& uri) const;

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, StoredDocument, std::less<>> documents_;
};

}  // namespace quib::lsp
