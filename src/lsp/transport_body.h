// Parsing a message body into JSON. A long string value inside a message's params (a document
// text, in practice) is decoded straight into a std::string of its own and handed over beside
// the JSON, instead of being unescaped into a scratch buffer, copied into the JSON value and
// copied again into whatever the handler keeps: three buffers the size of the document.
#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib::lsp {

namespace json = boost::json;

// String values inside params at least this long are detached. Shorter ones cost less to copy
// than to keep apart.
inline constexpr size_t kDetachedStringMin = 64 * 1024;

// A string value taken out of params. `pointer` is the JSON pointer of its place relative to
// params (as "/textDocument/text"); the params hold an empty string there.
struct DetachedString {
  std::string pointer;
  std::string text;
};
using DetachedStrings = std::vector<DetachedString>;

struct ParsedBody {
  json::value value;
  DetachedStrings detached;  // in the order their values appeared
};

// The body as one JSON value, or nothing when it is not exactly one JSON text. String values
// inside the top-level object's "params" member of at least `min_detached` bytes (once
// unescaped) are detached; no others.
std::optional<ParsedBody> parse_body(std::string_view body,
                                     size_t min_detached = kDetachedStringMin);

// Told, on the decoding thread, how decoding a body in place goes, so that work on its first long
// string can begin while the rest of it is still being decoded (see parse_body_in_place).
class LongStringWatcher {
 public:
  virtual ~LongStringWatcher() = default;
  // A body is about to be decoded.
  virtual void body_begins() = 0;
  // The body's first detached string is being unescaped into `storage`, from its first byte on.
  // From now until body_ends returns, the bytes of `storage` before the last count given to
  // string_decoded are final and may be read from any thread; no other byte may be.
  virtual void string_begins(const std::string& storage) = 0;
  // The first `bytes` bytes of the string are final: the whole string after its last call.
  virtual void string_decoded(size_t bytes) = 0;
  // The body is decoded, or turned out not to be JSON. Must return only once nothing reads
  // the storage any more: it changes or goes afterwards.
  virtual void body_ends() = 0;
  // After body_ends, when the string was copied out of the body into `text` (a text much
  // smaller than its body's storage does not keep it).
  virtual void string_copied(const std::string& text) = 0;
};

// What parsing a body in place gives: the parse, or nothing and how many bytes at the start of
// the body were overwritten before the body turned out not to be JSON (the rest is as it came).
struct InPlaceParse {
  std::optional<ParsedBody> parsed;
  size_t rewritten = 0;
};

// As `parse_body`, but the first detached string is unescaped within `body`'s own storage, so a
// document text needs no buffer of its own: the string takes that storage over (leaving `body`
// empty) unless it fills less than half of it, when it is copied out. A body that fails to parse
// may have lost its first `rewritten` bytes.
// `watcher`, when given, is told how the decoding goes.
InPlaceParse parse_body_in_place(std::string& body, size_t min_detached = kDetachedStringMin,
                                 LongStringWatcher* watcher = nullptr);

// Puts detached strings back into `params` as JSON strings (copying them), for a reader that
// takes none of them over. A pointer whose place no longer holds a string (its member was
// replaced by a later one of the same name) is skipped.
void reattach(json::value& params, DetachedStrings detached);

}  // namespace quib::lsp
