// JSON conversions of the protocol types. Malformed input throws ParamsError with a message
// naming the member, which the router turns into an "Invalid params" answer.
#include "lsp/protocol_types.h"

#include <charconv>
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

}  // namespace

void write_json(JsonWriter& w, const Position& in) {
  w.begin_object();
  write_member(w, "line", in.line);
  write_member(w, "character", in.character);
  w.end_object();
}

void tag_invoke(const json::value_from_tag&, json::value& out, const Position& in) {
  out = json::object{{"line", in.line}, {"character", in.character}};
}

Position tag_invoke(const json::value_to_tag<Position>&, const json::value& in) {
  Fields f(in, "position");
  return Position{f.uinteger("line"), f.uinteger("character")};
}

void write_json(JsonWriter& w, const Range& in) {
  w.begin_object();
  write_member(w, "start", in.start);
  write_member(w, "end", in.end);
  w.end_object();
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

void write_json(JsonWriter& w, const TextEdit& in) {
  w.begin_object();
  write_member(w, "range", in.range);
  write_member(w, "newText", in.newText);
  w.end_object();
}

InitializeParams tag_invoke(const json::value_to_tag<InitializeParams>&, const json::value& in) {
  Fields(in, "initialize params");
  return InitializeParams{};
}

NoParams tag_invoke(const json::value_to_tag<NoParams>&, const json::value&) {
  return NoParams{};
}

void write_json(JsonWriter& w, const CompletionOptions& in) {
  w.begin_object();
  write_member(w, "triggerCharacters", in.triggerCharacters);
  w.end_object();
}

void write_json(JsonWriter& w, const SemanticTokensLegend& in) {
  w.begin_object();
  write_member(w, "tokenTypes", in.tokenTypes);
  write_member(w, "tokenModifiers", in.tokenModifiers);
  w.end_object();
}

void write_json(JsonWriter& w, const SemanticTokensOptions& in) {
  w.begin_object();
  write_member(w, "legend", in.legend);
  write_member(w, "full", in.full);
  w.end_object();
}

void write_json(JsonWriter& w, const ServerCapabilities& in) {
  w.begin_object();
  write_member(w, "textDocumentSync", in.textDocumentSync);
  write_member(w, "hoverProvider", in.hoverProvider);
  write_member(w, "completionProvider", in.completionProvider);
  write_member(w, "documentSymbolProvider", in.documentSymbolProvider);
  write_member(w, "documentFormattingProvider", in.documentFormattingProvider);
  write_member(w, "documentRangeFormattingProvider", in.documentRangeFormattingProvider);
  write_member(w, "foldingRangeProvider", in.foldingRangeProvider);
  write_member(w, "semanticTokensProvider", in.semanticTokensProvider);
  w.end_object();
}

void write_json(JsonWriter& w, const InitializeResult& in) {
  w.begin_object();
  write_member(w, "capabilities", in.capabilities);
  w.end_object();
}

void write_json(JsonWriter& w, const LogMessageParams& in) {
  w.begin_object();
  write_member(w, "type", static_cast<int>(in.type));
  write_member(w, "message", in.message);
  w.end_object();
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

std::string* detached_target(DidOpenTextDocumentParams& params, std::string_view pointer) {
  return pointer == "/textDocument/text" ? &params.textDocument.text : nullptr;
}

std::string* detached_target(DidChangeTextDocumentParams& params, std::string_view pointer) {
  // "/contentChanges/<index>/text", the index written as a pointer writes it: no sign, no
  // leading zero.
  constexpr std::string_view kHead = "/contentChanges/";
  constexpr std::string_view kTail = "/text";
  if (!pointer.starts_with(kHead) || !pointer.ends_with(kTail)) return nullptr;
  const std::string_view digits =
      pointer.substr(kHead.size(), pointer.size() - kHead.size() - kTail.size());
  size_t index = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
      (digits.size() > 1 && digits[0] == '0') || index >= params.contentChanges.size()) {
    return nullptr;
  }
  return &params.contentChanges[index].text;
}

DidCloseTextDocumentParams tag_invoke(const json::value_to_tag<DidCloseTextDocumentParams>&,
                                      const json::value& in) {
  return DidCloseTextDocumentParams{
      Fields(in, "params").get<TextDocumentIdentifier>("textDocument")};
}

void write_json(JsonWriter& w, const PublishedDiagnostic& in) {
  w.begin_object();
  write_member(w, "range", in.range);
  write_member(w, "severity", in.severity);
  write_member(w, "code", in.code);
  write_member(w, "source", in.source);
  write_member(w, "message", in.message);
  w.end_object();
}

void write_json(JsonWriter& w, const PublishDiagnosticsParams& in) {
  w.begin_object();
  write_member(w, "uri", in.uri);
  write_member(w, "diagnostics", in.diagnostics);
  write_member(w, "version", in.version);
  w.end_object();
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

void write_json(JsonWriter& w, const MarkupContent& in) {
  w.begin_object();
  write_member(w, "kind", in.kind);
  write_member(w, "value", in.value);
  w.end_object();
}

void write_json(JsonWriter& w, const Hover& in) {
  w.begin_object();
  write_member(w, "contents", in.contents);
  write_member(w, "range", in.range);
  w.end_object();
}

void write_json(JsonWriter& w, const CompletionItem& in) {
  w.begin_object();
  write_member(w, "label", in.label);
  write_member(w, "kind", in.kind);
  write_member(w, "detail", in.detail);
  write_member(w, "insertTextFormat", in.insertTextFormat);
  write_member(w, "textEdit", in.textEdit);
  w.end_object();
}

void write_json(JsonWriter& w, const FoldingRange& in) {
  w.begin_object();
  write_member(w, "startLine", in.startLine);
  write_member(w, "startCharacter", in.startCharacter);
  write_member(w, "endLine", in.endLine);
  write_member(w, "endCharacter", in.endCharacter);
  w.end_object();
}

// The largest answer by count: one number per array element, written without a tree.
void write_json(JsonWriter& w, const SemanticTokens& in) {
  w.begin_object();
  write_member(w, "data", in.data);
  w.end_object();
}

}  // namespace quib::lsp
