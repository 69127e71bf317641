// The description tables, indexed by the fixed members of each word enumeration.
#include "lsp/descriptions.h"

#include <array>

namespace quib::lsp {
namespace {

constexpr std::array<std::string_view, DirectiveKind::Other> kDirectives{
    "Declares the minimum Quibfile language capability required by this file.",
    "Defines a global string value.",
    "Sets the default shell used for task commands.",
};

constexpr std::array<std::string_view, GuardKind::Other> kGuards{
    "Checks the current operating system.",
    "Checks the current CPU architecture.",
    "Checks whether an environment variable exists.",
    "Checks whether a command is available.",
};

constexpr std::array<std::string_view, MetadataField::Other> kMetadata{
    "Short task or group summary.",
    "Extra task help details.",
    "Shown when a task succeeds.",
    "Shown when a task fails.",
};

}  // namespace

std::optional<std::string_view> describe(const DirectiveKind& kind) {
  if (kind.is_other()) return std::nullopt;
  return kDirectives[kind.tag()];
}

std::optional<std::string_view> describe(const GuardKind& kind) {
  if (kind.is_other()) return std::nullopt;
  return kGuards[kind.tag()];
}

std::string_view describe(const MetadataField& field) {
  if (field.is_other()) return "Unknown metadata field.";
  return kMetadata[field.tag()];
}

}  // namespace quib::lsp
