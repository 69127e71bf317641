// The DocumentStore keeps the current text and version of every open document, with the one
// analysis of that text that every consumer shares: a DocumentSnapshot. Knows nothing of JSON.
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

// A stored text is analysed once, when it is stored, and every request shares that analysis:
// reparsing a large document for each request would cost more than the request itself. The
// answers are the same as from a fresh analysis, since a snapshot is a pure function of the
// text.
struct StoredDocument {
  // Invariant: the snapshot of exactly this text and version.
  std::shared_ptr<const DocumentSnapshot> snapshot;
};

// URI text -> StoredDocument under one reader-writer lock. The analysis of a new text runs
// before the lock is taken; writers then hold it only for the map update and readers only to
// copy a pointer, so a reader never sees a half-updated entry and never waits for a parse.
class DocumentStore {
 public:
  // Analyses `text` and inserts or replaces the entry.
  void put(const std::string& uri, std::string text, int32_t version);
  // Removes the entry, if any.
  void remove(const std::string& uri);
  // The analysis of the stored text; nullptr when the URI is not stored.
  std::shared_ptr<const DocumentSnapshot> analyze_document(const std::string& uri) const;

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, StoredDocument, std::less<>> documents_;
};

}  // namespace quib::lsp
