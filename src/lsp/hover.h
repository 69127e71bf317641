// Hover: which element of a Quibfile lies under a byte offset, and the Markdown text that
// explains it. Computes in byte offsets; the protocol handler converts the range to positions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "lsp/document_store.h"
#include "syntax/text_range.h"

namespace quib::lsp {

// The element found under the cursor.
struct HoverInfo {
  std::string label;  // kind of element ("condition", "task", ...); not shown to the user
  std::string code;   // the element's short form, shown as a code block
  std::optional<std::string> documentation;
  std::optional<std::string> container;  // the owning task's qualified name, or a task's group
  TextRange range;                       // the hovered element, in document bytes
};

// The element whose range holds `offset` (a byte offset into snapshot.text). Elements are tried
// in a fixed order and the first match wins, because some nest inside others (a `?` inside a
// guard, a placeholder inside a command line). Nothing for a comment, white space between
// elements, or a directive or guard name the language does not know.
std::optional<HoverInfo> hover_at(const DocumentSnapshot& snapshot, uint32_t offset);

// The hover text: a fenced `quibfile` code block, then the documentation, then a
// "Container:" line, separated by blank lines; empty parts are left out.
std::string hover_markdown(const HoverInfo& info);

}  // namespace quib::lsp
