// Document synchronisation: the didOpen/didChange/didClose handlers and the publication of
// diagnostics that follows each of them.
#include "lsp/protocol.h"

namespace quib::lsp {
namespace {

PublishedDiagnostic to_protocol(const Diagnostic& diagnostic, const LineIndex& lines) {
  return PublishedDiagnostic{
      .range = lines.range_of(diagnostic.range),
      .severity = static_cast<int>(diagnostic.severity) + 1,
      .code = diagnostic.code,
      .source = "quib-lsp",
      .message = diagnostic.message,
  };
}

}  // namespace

void LanguageServer::on_did_open(DidOpenTextDocumentParams&& params) {
  TextDocumentItem& document = params.textDocument;
  ParsedPrefixPtr prefix = parse_ahead_.take(document.text);
  documents_.put(document.uri, std::move(document.text), document.version, std::move(prefix));
  publish_diagnostics(document.uri, document.version);
}

// Full synchronisation: only the last change counts, and it carries the whole text. An empty
// list changes nothing but still republishes under the new version.
void LanguageServer::on_did_change(DidChangeTextDocumentParams&& params) {
  const VersionedTextDocumentIdentifier& document = params.textDocument;
  if (!params.contentChanges.empty()) {
    std::string& text = params.contentChanges.back().text;
    ParsedPrefixPtr prefix = parse_ahead_.take(text);
    documents_.put(document.uri, std::move(text), document.version, std::move(prefix));
  }
  publish_diagnostics(document.uri, document.version);
}

void LanguageServer::on_did_close(const DidCloseTextDocumentParams& params) {
  documents_.remove(params.textDocument.uri);
  publish_diagnostics(params.textDocument.uri, std::nullopt);
}

void LanguageServer::publish_diagnostics(const std::string& uri, std::optional<int32_t> version) {
  PublishDiagnosticsParams out{.uri = uri, .diagnostics = {}, .version = version};
  if (auto snapshot = documents_.analyze_document(uri)) {
    out.diagnostics.reserve(snapshot->model.diagnostics.size());
    for (const Diagnostic& diagnostic : snapshot->model.diagnostics) {
      out.diagnostics.push_back(to_protocol(diagnostic, snapshot->lines()));
    }
  }
  client_.publish_diagnostics(out);
}

}  // namespace quib::lsp
