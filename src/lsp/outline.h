// The document outline in protocol form: the flat symbol list and the folding ranges of one
// snapshot, with byte offsets turned into lines and UTF-16 columns.
#pragma once

#include <memory>
#include <vector>

#include "lsp/document_store.h"
#include "lsp/json_writer.h"
#include "lsp/protocol_types.h"

namespace quib::lsp {

// The flat symbol list (SymbolInformation) of one snapshot: every group (kind 3, Namespace),
// then every task (kind 12, Function), each in model order; no nesting and no de-duplication,
// so a group opened twice is listed twice. A task's name is its bare name; `containerName` is
// its group, absent outside any group. A null snapshot (an unknown document) is the empty list.
// Written straight from the model, with no record per symbol: a large document has tens of
// thousands, and each record would copy the document's URI.
struct DocumentSymbols {
  std::shared_ptr<const DocumentSnapshot> snapshot;
};
void write_json(JsonWriter& w, const DocumentSymbols& symbols);

// The model's folding regions in their order, without kinds. Each ends where the last
// non-blank character of its region begins, so a folded task ends on its last visible
// character rather than on the line after it; a one-line region is still reported.
std::vector<FoldingRange> folding_ranges(const DocumentSnapshot& snapshot);

}  // namespace quib::lsp
