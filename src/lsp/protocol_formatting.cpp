// The formatting requests: whole document and the one declaration a range touches.
#include "lsp/protocol.h"

namespace quib::lsp {

// FIXME(formatting): answers null until the formatter is wired in.
std::optional<std::vector<TextEdit>> LanguageServer::on_formatting(
    const DocumentFormattingParams&) {
  return std::nullopt;
}

std::optional<std::vector<TextEdit>> LanguageServer::on_range_formatting(
    const DocumentRangeFormattingParams&) {
  return std::nullopt;
}

}  // namespace quib::lsp
