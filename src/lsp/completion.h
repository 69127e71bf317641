// Completion: what to offer at a cursor, decided from the text of the line before it.
// Computes in byte offsets over the document text; the protocol handler converts ranges.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "semantic/model.h"
#include "syntax/text_range.h"

namespace quib::lsp {

// Selects the protocol item kind.
enum class CandidateCategory : uint8_t {
  Directive,
  Guard,
  MetadataKey,
  Keyword,
  TaskDependency,
  GroupDependency,
};

// One item to offer: `insert` is a snippet that replaces the typed text at `replace`.
struct CompletionCandidate {
  std::string label;
  std::string detail;
  std::string insert;
  TextRange replace;  // document bytes
  CandidateCategory category;

  bool operator==(const CompletionCandidate&) const = default;
};

// The candidates at byte offset `cursor` of `text`, in the order they are offered; empty when
// nothing applies. `model` is the model of `text`. Dependency names are those of the text
// without the cursor's line, since that line is usually a header being typed and does not
// parse.
std::vector<CompletionCandidate> completion_at(const SemanticModel& model, std::string_view text,
                                               uint32_t cursor);

// The protocol's CompletionItemKind number for a category.
int completion_item_kind(CandidateCategory category);

}  // namespace quib::lsp
