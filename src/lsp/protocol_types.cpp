// JSON conversions of the protocol types. Malformed input throws ParamsError with a message
// naming the member, which the router turns into an "Invalid params" answer.
#include "lsp/protocol_types.h"

#include <limits>
#include <string_view>

#include "lsp/transport_router.h"

namespace quib::lsp {

namespace {

// Reads the members of one incoming object, checking kinds and ranges as it goes.
class Fields {
 public:
  Fields(const json::value& in, std::string_view what) {
    object_ = in.if_object();
    if (object_ == nullptr) throw ParamsError(std::string(what) + " must be an object");
  }

  const json::value& required(std::string_view key) const {
    const json::value* v = object_->if_contains(key);
    if (v == nullptr) throw ParamsError("missing member '" + std::string(key) + "'");
    return *v;
  }

  std::string string(std::string_view key) const {
    const json::value& v = required(key);
    if (!v.is_string()) throw ParamsError("member '" + std::string(key) + "' must be a string");
    return std::string(v.get_string());
  }

  int64_t integer(std::string_view key, int64_t min, int64_t max) const {
    const json::value& v = required(key);
    std::optional<int64_t> n;
    if (v.is_int64()) n = v.get_int64();
    if (v.is_uint64() && v.get_uint64() <= static_cast<uint64_t>(max)) {
      n = static_cast<int64_t>(v.get_uint64());
    }
    if (!n || *n < min || *n > max) {
      throw ParamsError("member '" + std::string(key) + "' must be an integer in range");
    }
    return *n;
  }

  uint32_t uinteger(std::string_view key) const {
    return static_cast<uint32_t>(integer(key, 0, std::numeric_limits<uint32_t>::max()));
  }

  int32_t int32(std::string_view key) const {
    return static_cast<int32_t>(
        integer(key, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  }

  template <class T>
  T get(std::string_view key) const {
    return json::value_to<T>(required(key));
  }

 private:
  const json::object* object_ = nullptr;
};

template <class T>
void put_optional(json::object& out, std::string_view key, const std::optional<T>& value) {
  if (value) out[key] = json::value_from(*value);
}

}  // namespace

void tag_invoke(const json::value_from_tag&, json::value& out, const Position& in) {
  out = json::object{{"line", in.line}, {"character", in.character}};
}

Position tag_invoke(const json::value_to_tag<Position>&, const json::value& in) {
  Fields f(in, "position");
  return Position{f.uinteger("line"), f.uinteger("character")};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const Range& in) {
  out = json::object{{"start", json::value_from(in.start)}, {"end", json::value_from(in.end)}};
}

Range tag_invoke(const json::value_to_tag<Range>&, const json::value& in) {
  Fields f(in, "range");
  return Range{f.get<Position>("start"), f.get<Position>("end")};
}

TextDocumentIdentifier tag_invoke(const json::value_to_tag<TextDocumentIdentifier>&,
                                  const json::value& in) {
  return TextDocumentIdentifier{Fields(in, "textDocument").string("uri")};
}

VersionedTextDocumentIdentifier tag_invoke(
    const json::value_to_tag<VersionedTextDocumentIdentifier>&, const json::value& in) {
  Fields f(in, "textDocument");
  return VersionedTextDocumentIdentifier{f.string("uri"), f.int32("version")};
}

TextDocumentItem tag_invoke(const json::value_to_tag<TextDocumentItem>&, const json::value& in) {
  Fields f(in, "textDocument");
  return TextDocumentItem{f.string("uri"), f.string("languageId"), f.int32("version"),
                          f.string("text")};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const Location& in) {
  out = json::object{{"uri", in.uri}, {"range", json::value_from(in.range)}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const TextEdit& in) {
  out = json::object{{"range", json::value_from(in.range)}, {"newText", in.newText}};
}

InitializeParams tag_invoke(const json::value_to_tag<InitializeParams>&, const json::value& in) {
  Fields(in, "initialize params");
  return InitializeParams{};
}

NoParams tag_invoke(const json::value_to_tag<NoParams>&, const json::value&) {
  return NoParams{};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const CompletionOptions& in) {
  out = json::object{{"triggerCharacters", json::value_from(in.triggerCharacters)}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const SemanticTokensLegend& in) {
  out = json::object{{"tokenTypes", json::value_from(in.tokenTypes)},
                     {"tokenModifiers", json::value_from(in.tokenModifiers)}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const SemanticTokensOptions& in) {
  out = json::object{{"legend", json::value_from(in.legend)}, {"full", in.full}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const ServerCapabilities& in) {
  json::object caps;
  put_optional(caps, "textDocumentSync", in.textDocumentSync);
  put_optional(caps, "hoverProvider", in.hoverProvider);
  put_optional(caps, "completionProvider", in.completionProvider);
  put_optional(caps, "documentSymbolProvider", in.documentSymbolProvider);
  put_optional(caps, "documentFormattingProvider", in.documentFormattingProvider);
  put_optional(caps, "documentRangeFormattingProvider", in.documentRangeFormattingProvider);
  put_optional(caps, "foldingRangeProvider", in.foldingRangeProvider);
  put_optional(caps, "semanticTokensProvider", in.semanticTokensProvider);
  out = std::move(caps);
}

void tag_invoke(const json::value_from_tag&, json::value& out, const InitializeResult& in) {
  out = json::object{{"capabilities", json::value_from(in.capabilities)}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const LogMessageParams& in) {
  out = json::object{{"type", static_cast<int>(in.type)}, {"message", in.message}};
}

DidOpenTextDocumentParams tag_invoke(const json::value_to_tag<DidOpenTextDocumentParams>&,
                                     const json::value& in) {
  return DidOpenTextDocumentParams{Fields(in, "params").get<TextDocumentItem>("textDocument")};
}

TextDocumentContentChangeEvent tag_invoke(const json::value_to_tag<TextDocumentContentChangeEvent>&,
                                          const json::value& in) {
  return TextDocumentContentChangeEvent{Fields(in, "content change").string("text")};
}

DidChangeTextDocumentParams tag_invoke(const json::value_to_tag<DidChangeTextDocumentParams>&,
                                       const json::value& in) {
  Fields f(in, "params");
  const json::value& changes = f.required("contentChanges");
  if (!changes.is_array()) throw ParamsError("member 'contentChanges' must be an array");
  return DidChangeTextDocumentParams{
      f.get<VersionedTextDocumentIdentifier>("textDocument"),
      json::value_to<std::vector<TextDocumentContentChangeEvent>>(changes)};
}

DidCloseTextDocumentParams tag_invoke(const json::value_to_tag<DidCloseTextDocumentParams>&,
                                      const json::value& in) {
  return DidCloseTextDocumentParams{
      Fields(in, "params").get<TextDocumentIdentifier>("textDocument")};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const PublishedDiagnostic& in) {
  out = json::object{{"range", json::value_from(in.range)},
                     {"severity", in.severity},
                     {"code", in.code},
                     {"source", in.source},
                     {"message", in.message}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const PublishDiagnosticsParams& in) {
  json::object params{{"uri", in.uri}, {"diagnostics", json::value_from(in.diagnostics)}};
  put_optional(params, "version", in.version);
  out = std::move(params);
}

TextDocumentParams tag_invoke(const json::value_to_tag<TextDocumentParams>&,
                              const json::value& in) {
  return TextDocumentParams{Fields(in, "params").get<TextDocumentIdentifier>("textDocument")};
}

TextDocumentPositionParams tag_invoke(const json::value_to_tag<TextDocumentPositionParams>&,
                                      const json::value& in) {
  Fields f(in, "params");
  return TextDocumentPositionParams{f.get<TextDocumentIdentifier>("textDocument"),
                                    f.get<Position>("position")};
}

DocumentFormattingParams tag_invoke(const json::value_to_tag<DocumentFormattingParams>&,
                                    const json::value& in) {
  return DocumentFormattingParams{Fields(in, "params").get<TextDocumentIdentifier>("textDocument")};
}

DocumentRangeFormattingParams tag_invoke(const json::value_to_tag<DocumentRangeFormattingParams>&,
                                         const json::value& in) {
  Fields f(in, "params");
  return DocumentRangeFormattingParams{f.get<TextDocumentIdentifier>("textDocument"),
                                       f.get<Range>("range")};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const MarkupContent& in) {
  out = json::object{{"kind", in.kind}, {"value", in.value}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const Hover& in) {
  json::object hover{{"contents", json::value_from(in.contents)}};
  put_optional(hover, "range", in.range);
  out = std::move(hover);
}

void tag_invoke(const json::value_from_tag&, json::value& out, const CompletionItem& in) {
  json::object item{{"label", in.label}};
  put_optional(item, "kind", in.kind);
  put_optional(item, "detail", in.detail);
  put_optional(item, "insertTextFormat", in.insertTextFormat);
  put_optional(item, "textEdit", in.textEdit);
  out = std::move(item);
}

void tag_invoke(const json::value_from_tag&, json::value& out, const SymbolInformation& in) {
  json::object symbol{
      {"name", in.name}, {"kind", in.kind}, {"location", json::value_from(in.location)}};
  put_optional(symbol, "containerName", in.containerName);
  out = std::move(symbol);
}

void tag_invoke(const json::value_from_tag&, json::value& out, const FoldingRange& in) {
  out = json::object{{"startLine", in.startLine},
                     {"startCharacter", in.startCharacter},
                     {"endLine", in.endLine},
                     {"endCharacter", in.endCharacter}};
}

void tag_invoke(const json::value_from_tag&, json::value& out, const SemanticTokens& in) {
  out = json::object{{"data", json::value_from(in.data)}};
}

}  // namespace quib::lsp
