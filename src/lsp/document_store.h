// The DocumentStore keeps the current text and version of every open document, with the one
// analysis of that text that every consumer shares: a DocumentSnapshot. Knows nothing of JSON.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "lsp/position.h"
#include "semantic/analyze.h"
#include "semantic/folding.h"
#include "syntax/parse.h"

namespace quib::lsp {

// What a new analysis may build on: the model of an analysis nobody uses any more, emptied on
// the helper thread while the new text is parsed (the two touch different memory), or the
// storage of a model emptied earlier. Either lends its task list's buffer and its record pools
// to the new model (see `empty_model`).
struct RetiredModel {
  SemanticModel model;
  uint32_t text_bytes = 0;  // the size of the text `model` was built from
  ModelStorage emptied;
};

// One analysis of one stored text: owns everything it refers to and needs no lock.
// Invariant: every range in `parse_result` and `model` is a byte range of `text`, and `lines()`
// indexes that same text. `parse_result.tokens` is empty: the tree holds every token.
// Requests on one snapshot run on several threads at once, and the counts of syntax handles are
// not atomic: a reader that makes handles (anything below the root's green node) first takes a
// root of its own with `parse_result.root.share_root()`.
struct DocumentSnapshot {
  // `prefix`, when given, is a parse of the first lines of `text`, which the parse goes on from.
  DocumentSnapshot(std::string uri, std::shared_ptr<const std::string> text, int32_t version,
                   RetiredModel retired = {}, ParsedPrefixPtr prefix = {});
  DocumentSnapshot(const DocumentSnapshot&) = delete;
  DocumentSnapshot& operator=(const DocumentSnapshot&) = delete;
  ~DocumentSnapshot();

  std::string uri;
  std::shared_ptr<const std::string> text_owner;
  std::string_view text;
  int32_t version;
  ParseResult parse_result;
  SemanticModel model;
  // The folding regions of `model`, found with the analysis while the model is in the caches:
  // a large model has left them by the time a request comes, and walking it again for every
  // folding request cost a 4 MB document's request a quarter of its time.
  std::vector<FoldingRegion> folding_regions;

  // The line index of `text`, built on first use (by any thread): publishing the diagnostics of
  // a clean document needs none, and building it is a share of a large document's analysis.
  const LineIndex& lines() const;

 private:
  mutable std::once_flag lines_built_;
  mutable std::optional<LineIndex> lines_;
};

// A stored text is analysed once, when it is stored, and every request shares that analysis:
// reparsing a large document for each request would cost more than the request itself. The
// answers are the same as from a fresh analysis, since a snapshot is a pure function of the
// text.
struct StoredDocument {
  // Invariant: the snapshot of exactly this text and version; null only while a new text of
  // this document is being analysed. Handed out as const; the store alone empties a snapshot's
  // model, once nobody else holds the snapshot.
  std::shared_ptr<DocumentSnapshot> snapshot;
};

// URI text -> StoredDocument under one reader-writer lock. The analysis of a new text runs
// outside the lock; writers hold it only for map updates and readers only to copy a pointer,
// so a reader never sees a half-updated entry.
//
// Replacing a text first lets go of the old snapshot, so that a large document is never held
// analysed twice (a snapshot is many times the size of its text). When nobody else holds it,
// its tree and text go at once and its model is emptied while the new text is parsed, the
// buffer of its task list kept for the new model's tasks. A reader on another thread that asks
// for the document meanwhile waits for the new snapshot, and never sees the document as unknown.
// (The server's requests take their snapshot on the thread that stores the texts, in message
// order, so they never wait.)
class DocumentStore {
 public:
  // Analyses `text` and inserts or replaces the entry. `prefix`, when given, is a parse of the
  // first lines of `text` that the analysis goes on from.
  void put(const std::string& uri, std::string text, int32_t version, ParsedPrefixPtr prefix = {});
  // Removes the entry, if any.
  void remove(const std::string& uri);
  // The analysis of the stored text; nullptr when the URI is not stored.
  std::shared_ptr<const DocumentSnapshot> analyze_document(const std::string& uri) const;

 private:
  // The emptied model storage of the last snapshot dropped without a successor (a closed
  // document), lent to the next new document: its buffers are already paged in.
  std::mutex spare_storage_mutex_;
  ModelStorage spare_storage_;
  mutable std::shared_mutex mutex_;
  // Signalled, under `mutex_`, whenever an entry gets its new snapshot or goes away.
  mutable std::condition_variable_any snapshot_ready_;
  std::map<std::string, StoredDocument, std::less<>> documents_;
};

}  // namespace quib::lsp
