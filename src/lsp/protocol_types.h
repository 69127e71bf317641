// The protocol's data types that this server reads or writes, each with its one JSON
// conversion: tag_invoke for value_to on what is read, write_json on what is written (straight
// to text, never through a value tree; only Position and Range also have value_from, for the
// command line's report). No behaviour beyond conversion.
// Field names follow the protocol's spelling. Optional members are omitted from the JSON when
// absent, never written as null; incoming objects may carry members we do not read.
#pragma once

#include <boost/json/value.hpp>
#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/json_writer.h"
#include "lsp/position.h"

namespace quib::lsp {

namespace json = boost::json;

// ---- Shared structures ----

struct TextDocumentIdentifier {
  std::string uri;
};

struct VersionedTextDocumentIdentifier {
  std::string uri;
  int32_t version = 0;
};

struct TextDocumentItem {
  std::string uri;
  std::string languageId;
  int32_t version = 0;
  std::string text;
};

struct TextEdit {
  Range range;
  std::string newText;
};

// ---- Lifecycle ----

// Every member of the client's initialize params is ignored; only the shape (an object) is
// checked.
struct InitializeParams {};

// For methods without params (`shutdown`) and notifications whose params are not read
// (`initialized`): any params are accepted.
struct NoParams {};

struct CompletionOptions {
  std::vector<std::string> triggerCharacters;
};

struct SemanticTokensLegend {
  std::vector<std::string> tokenTypes;
  std::vector<std::string> tokenModifiers;
};

struct SemanticTokensOptions {
  SemanticTokensLegend legend;
  bool full = true;
};

// Only what the server announces; every member left absent is omitted from the JSON.
struct ServerCapabilities {
  std::optional<int> textDocumentSync;
  std::optional<bool> hoverProvider;
  std::optional<CompletionOptions> completionProvider;
  std::optional<bool> documentSymbolProvider;
  std::optional<bool> documentFormattingProvider;
  std::optional<bool> documentRangeFormattingProvider;
  std::optional<bool> foldingRangeProvider;
  std::optional<SemanticTokensOptions> semanticTokensProvider;
};

struct InitializeResult {
  ServerCapabilities capabilities;
};

enum class MessageType : int { Error = 1, Warning = 2, Info = 3, Log = 4 };

struct LogMessageParams {
  MessageType type = MessageType::Info;
  std::string message;
};

// ---- Document synchronisation ----

struct DidOpenTextDocumentParams {
  TextDocumentItem textDocument;
};

// The server asks for full synchronisation, so a change's `range` and `rangeLength` (if a
// client sends them) are not read: `text` is the whole document.
struct TextDocumentContentChangeEvent {
  std::string text;
};

struct DidChangeTextDocumentParams {
  VersionedTextDocumentIdentifier textDocument;
  std::vector<TextDocumentContentChangeEvent> contentChanges;
};

struct DidCloseTextDocumentParams {
  TextDocumentIdentifier textDocument;
};

// The diagnostic as the protocol publishes it (the server's own record is quib::Diagnostic).
// `code` is the dotted diagnostic code; severity 1 is Error. The texts are views of the record
// published, which outlives the writing of the message: a document with millions of diagnostics
// would otherwise hold every text twice while its message is written.
struct PublishedDiagnostic {
  Range range;
  int severity = 1;
  std::string_view code;
  std::string_view source;
  std::string_view message;
};

struct PublishDiagnosticsParams {
  std::string uri;
  std::vector<PublishedDiagnostic> diagnostics;
  std::optional<int32_t> version;
};

// ---- Requests on one document ----

// Params of the requests that name a document and nothing else (documentSymbol,
// foldingRange, semanticTokens/full).
struct TextDocumentParams {
  TextDocumentIdentifier textDocument;
};
using DocumentSymbolParams = TextDocumentParams;
using FoldingRangeParams = TextDocumentParams;
using SemanticTokensParams = TextDocumentParams;

// Hover and completion; a completion `context`, if sent, is not read.
struct TextDocumentPositionParams {
  TextDocumentIdentifier textDocument;
  Position position;
};
using HoverParams = TextDocumentPositionParams;
using CompletionParams = TextDocumentPositionParams;

// `options` (tab size, spaces) is accepted and ignored: the layout is fixed.
struct DocumentFormattingParams {
  TextDocumentIdentifier textDocument;
};

struct DocumentRangeFormattingParams {
  TextDocumentIdentifier textDocument;
  Range range;
};

struct MarkupContent {
  std::string kind;  // "markdown" or "plaintext"
  std::string value;
};

struct Hover {
  MarkupContent contents;
  std::optional<Range> range;
};

struct CompletionItem {
  std::string label;
  std::optional<int> kind;
  std::optional<std::string> detail;
  std::optional<int> insertTextFormat;  // 2: snippet
  std::optional<TextEdit> textEdit;
};

// Lines are zero-based; characters are UTF-16 columns.
struct FoldingRange {
  uint32_t startLine = 0;
  uint32_t startCharacter = 0;
  uint32_t endLine = 0;
  uint32_t endCharacter = 0;
};

struct SemanticTokens {
  std::vector<uint32_t> data;  // five integers per token, relative encoding
};

// ---- Conversions (found by argument-dependent lookup) ----

void write_json(JsonWriter& w, const Position& in);
Position tag_invoke(const json::value_to_tag<Position>&, const json::value& in);
void write_json(JsonWriter& w, const Range& in);
Range tag_invoke(const json::value_to_tag<Range>&, const json::value& in);
// Positions and ranges also become value trees, for the command line's JSON report, which
// builds one; the server itself only writes them as text.
void tag_invoke(const json::value_from_tag&, json::value& out, const Position& in);
void tag_invoke(const json::value_from_tag&, json::value& out, const Range& in);

TextDocumentIdentifier tag_invoke(const json::value_to_tag<TextDocumentIdentifier>&,
                                  const json::value& in);
VersionedTextDocumentIdentifier tag_invoke(
    const json::value_to_tag<VersionedTextDocumentIdentifier>&, const json::value& in);
TextDocumentItem tag_invoke(const json::value_to_tag<TextDocumentItem>&, const json::value& in);
void write_json(JsonWriter& w, const TextEdit& in);

InitializeParams tag_invoke(const json::value_to_tag<InitializeParams>&, const json::value& in);
NoParams tag_invoke(const json::value_to_tag<NoParams>&, const json::value& in);
void write_json(JsonWriter& w, const CompletionOptions& in);
void write_json(JsonWriter& w, const SemanticTokensLegend& in);
void write_json(JsonWriter& w, const SemanticTokensOptions& in);
void write_json(JsonWriter& w, const ServerCapabilities& in);
void write_json(JsonWriter& w, const InitializeResult& in);
void write_json(JsonWriter& w, const LogMessageParams& in);

DidOpenTextDocumentParams tag_invoke(const json::value_to_tag<DidOpenTextDocumentParams>&,
                                     const json::value& in);
TextDocumentContentChangeEvent tag_invoke(const json::value_to_tag<TextDocumentContentChangeEvent>&,
                                          const json::value& in);
DidChangeTextDocumentParams tag_invoke(const json::value_to_tag<DidChangeTextDocumentParams>&,
                                       const json::value& in);
DidCloseTextDocumentParams tag_invoke(const json::value_to_tag<DidCloseTextDocumentParams>&,
                                      const json::value& in);
// The member where a long string detached from these params belongs, the document text (see
// attach_detached); null for any other place.
std::string* detached_target(DidOpenTextDocumentParams& params, std::string_view pointer);
std::string* detached_target(DidChangeTextDocumentParams& params, std::string_view pointer);
void write_json(JsonWriter& w, const PublishedDiagnostic& in);
void write_json(JsonWriter& w, const PublishDiagnosticsParams& in);

TextDocumentParams tag_invoke(const json::value_to_tag<TextDocumentParams>&, const json::value& in);
TextDocumentPositionParams tag_invoke(const json::value_to_tag<TextDocumentPositionParams>&,
                                      const json::value& in);
DocumentFormattingParams tag_invoke(const json::value_to_tag<DocumentFormattingParams>&,
                                    const json::value& in);
DocumentRangeFormattingParams tag_invoke(const json::value_to_tag<DocumentRangeFormattingParams>&,
                                         const json::value& in);
void write_json(JsonWriter& w, const MarkupContent& in);
void write_json(JsonWriter& w, const Hover& in);
void write_json(JsonWriter& w, const CompletionItem& in);
void write_json(JsonWriter& w, const FoldingRange& in);
void write_json(JsonWriter& w, const SemanticTokens& in);

}  // namespace quib::lsp
