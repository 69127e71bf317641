// The requests that assist typing: hover and completion. Each converts the position to a byte
// offset, asks its feature module, and converts the byte ranges of the answer back.
#include "lsp/completion.h"
#include "lsp/hover.h"
#include "lsp/protocol.h"

namespace quib::lsp {

Deferred<std::optional<Hover>> LanguageServer::on_hover(const HoverParams& params) {
  return [snapshot = snapshot_of(params.textDocument),
          position = params.position]() -> std::optional<Hover> {
    if (!snapshot) return std::nullopt;
    const std::optional<HoverInfo> info =
        hover_at(*snapshot, snapshot->lines().offset_of(position));
    if (!info) return std::nullopt;
    return Hover{MarkupContent{"markdown", hover_markdown(*info)},
                 snapshot->lines().range_of(info->range)};
  };
}

Deferred<std::optional<std::vector<CompletionItem>>> LanguageServer::on_completion(
    const CompletionParams& params) {
  return [snapshot = snapshot_of(params.textDocument),
          position = params.position]() -> std::optional<std::vector<CompletionItem>> {
    if (!snapshot) return std::nullopt;
    std::vector<CompletionItem> items;
    for (CompletionCandidate& candidate :
         completion_at(snapshot->model, snapshot->text, snapshot->lines().offset_of(position))) {
      items.push_back(CompletionItem{
          .label = std::move(candidate.label),
          .kind = completion_item_kind(candidate.category),
          .detail = std::move(candidate.detail),
          .insertTextFormat = 2,  // snippet
          .textEdit =
              TextEdit{snapshot->lines().range_of(candidate.replace), std::move(candidate.insert)},
      });
    }
    return items;
  };
}

}  // namespace quib::lsp
