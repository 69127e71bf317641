// The one-sentence descriptions of directives, guards and metadata keys. Hover shows them as
// documentation and completion as item details, so both read them from here.
#pragma once

#include <optional>
#include <string_view>

#include "syntax/ast_view.h"

namespace quib::lsp {

// Nothing for a directive or guard the language does not know: there is nothing true to say.
std::optional<std::string_view> describe(const DirectiveKind& kind);
std::optional<std::string_view> describe(const GuardKind& kind);
// Every metadata key gets a text; a key the language does not know says so.
std::string_view describe(const MetadataField& field);

}  // namespace quib::lsp
