// The requests that assist typing: hover and completion.
#include "lsp/protocol.h"

namespace quib::lsp {

// FIXME(assist): answers null until hover and completion are wired in.
std::optional<Hover> LanguageServer::on_hover(const HoverParams&) {
  return std::nullopt;
}

std::optional<std::vector<CompletionItem>> LanguageServer::on_completion(const CompletionParams&) {
  return std::nullopt;
}

}  // namespace quib::lsp
