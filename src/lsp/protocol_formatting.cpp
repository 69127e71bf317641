// The formatting requests: the whole document, or the one declaration a range touches. Both
// refuse (null) a document with any diagnostic, answer [] when nothing would change, and
// otherwise one edit.
#include <algorithm>

#include "lsp/large_buffers.h"
#include "lsp/protocol.h"
#include "syntax/formatter.h"

namespace quib::lsp {
namespace {

bool has_error(const std::vector<Diagnostic>& diagnostics) {
  return std::any_of(diagnostics.begin(), diagnostics.end(),
                     [](const Diagnostic& d) { return d.severity == DiagnosticSeverity::Error; });
}

// A braced list would copy the text out of its initializer list: the whole formatted document.
std::vector<TextEdit> single_edit(Range range, std::string new_text) {
  std::vector<TextEdit> edits;
  edits.push_back(TextEdit{range, std::move(new_text)});
  return edits;
}

}  // namespace

Deferred<JsonText> LanguageServer::on_formatting(const DocumentFormattingParams& params) {
  return [snapshot = snapshot_of(params.textDocument)] {
    if (!snapshot || has_error(snapshot->model.diagnostics)) return JsonText{"null"};
    // A large answer is written into kept storage and given back once sent.
    std::optional<std::string> formatted =
        format_document_into(snapshot->text, snapshot->parse_result, large_buffers().take());
    if (!formatted) return JsonText{"null"};
    if (*formatted == snapshot->text) {
      large_buffers().give(std::move(*formatted));
      return JsonText{"[]"};
    }
    // The one edit, members as a TextEdit writes them.
    const TextRange whole(0, static_cast<uint32_t>(snapshot->text.size()));
    const std::string opening =
        R"([{"range":)" + to_json_text(snapshot->lines().range_of(whole)) + R"(,"newText":)";
    return JsonText{json_string_in_place(std::move(*formatted), opening, "}]")};
  };
}

// A range whose start lies after its end touches nothing and is refused like any other range
// that selects no single declaration.
Deferred<std::optional<std::vector<TextEdit>>> LanguageServer::on_range_formatting(
    const DocumentRangeFormattingParams& params) {
  return [snapshot = snapshot_of(params.textDocument),
          range = params.range]() -> std::optional<std::vector<TextEdit>> {
    if (!snapshot || has_error(snapshot->model.diagnostics)) return std::nullopt;
    const uint32_t start = snapshot->lines().offset_of(range.start);
    const uint32_t end = snapshot->lines().offset_of(range.end);
    if (start > end) return std::nullopt;
    std::optional<DeclarationEdit> edit =
        format_declaration(snapshot->text, snapshot->parse_result, TextRange(start, end));
    if (!edit) return std::nullopt;
    const std::string_view replaced = snapshot->text.substr(edit->range.start, edit->range.len());
    if (edit->new_text == replaced) return std::vector<TextEdit>{};
    return single_edit(snapshot->lines().range_of(edit->range), std::move(edit->new_text));
  };
}

}  // namespace quib::lsp
