// The parser entry: text in, lossless tree plus parse diagnostics out. Never fails: malformed
// text is kept whole in ErrorItem nodes with one diagnostic each.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/builder.h"
#include "syntax/diagnostic.h"
#include "syntax/split_point.h"
#include "syntax/syntax_node.h"
#include "syntax/token_list.h"

namespace quib {

class Document;

struct ParseResult {
  // The full token list, Eof included, in compact form.
  TokenList tokens;
  // In document order, one per malformed item.
  std::vector<Diagnostic> diagnostics;
  // Invariant: a Document node whose token texts concatenate to the parsed text.
  SyntaxNode root;

  // The root as the typed Document view.
  Document document() const;
};

// One top-level item as the parser classifies it. In a parse a well-formed item becomes a
// Directive, Metadata, GroupLine or Task node, any other an ErrorItem.
struct ScannedItem {
  ItemClass item_class;
  bool well_formed;
  TextRange range;                      // the item's bytes
  std::optional<TextRange> first_word;  // its first Word token (a task's name), if any
};

ParseResult parse(std::string_view text);
// The same, sharing an existing text instead of copying it.
ParseResult parse(std::shared_ptr<const std::string> text);
// The same tree and diagnostics without the token list (`tokens` stays empty), for readers that
// keep only the tree. Tokens are held for a window of text at a time, and a large text is
// parsed in two parts on two threads.
ParseResult parse_tree(std::shared_ptr<const std::string> text);
// `parse_tree` that also runs `helper_first` exactly once before it returns: on the helper
// thread before that thread parses the second part, with the cut moved later by half of
// `helper_first_bytes` (the job's cost, as the bytes of text parsed in the same time) so that
// both threads end together; on the calling thread, first, when the text is parsed in one part.
// `helper_first` must share no unsynchronised state with the parse.
ParseResult parse_tree(std::shared_ptr<const std::string> text,
                       const std::function<void()>& helper_first, size_t helper_first_bytes);

// The items of a text's first lines, parsed while the rest of the text was still being written
// (see `parse_prefix`), and where that parse stopped. Opaque: only `parse_tree` reads it.
struct ParsedPrefix;
struct ParsedPrefixDelete {
  void operator()(ParsedPrefix* prefix) const;
};
using ParsedPrefixPtr = std::unique_ptr<ParsedPrefix, ParsedPrefixDelete>;

// Parses the text being written into `storage` from its start, a window of about `window_bytes`
// at a time, as far as its bytes are final. Before each window `final_bytes(wanted)` tells how
// many bytes at the start of `storage` are final, at least `wanted` (it may wait for them to be
// written); any smaller answer ends the parse. Reads no byte of `storage` beyond the last
// answer, so the rest may be written meanwhile. The prefix ends at a line where the whole parse
// begins an item; it is empty when no window could be settled.
ParsedPrefixPtr parse_prefix(const std::string& storage,
                             const std::function<size_t(size_t wanted)>& final_bytes,
                             uint32_t window_bytes);
// `parse_tree` of `text` that goes on from `prefix`, a parse of this text's first lines (of the
// same bytes, written into any storage), instead of from the start; null `prefix` parses it
// all. The tree and diagnostics are those of any parse of the text.
ParseResult parse_tree(std::shared_ptr<const std::string> text,
                       const std::function<void()>& helper_first, size_t helper_first_bytes,
                       ParsedPrefixPtr prefix);
// `parse_tree` cut at `split` (a line start) whatever the text's size, with the same fallback
// to one part, holding the tokens of `window_bytes` of text at a time: for tests of the
// two-part and windowed paths.
ParseResult parse_tree(std::shared_ptr<const std::string> text, SplitPoint split,
                       uint32_t window_bytes);

// Where a scan begins: offset 0, or the start of a line (just after a line feed) on which the
// parse of the whole text begins an item after nothing but blanks, with the parser's group
// state there (inside a group after a well-formed opening line, until a well-formed closing
// one). The parse of a text from such a line depends on nothing before it but that state: the
// windowed parse resumes at such lines too.
struct ScanStart {
  uint32_t offset = 0;
  bool inside_group = false;
};

// Calls `visit` with each item `parse` would build from the text `before` followed by `after`,
// in order from `start`, classified alike, with ranges in that joined text, until `visit`
// answers false. Builds no tree, reports nothing, never joins the two parts and keeps no list of
// the items: it reads `window_bytes` at a time (more when an item is longer), so its memory
// does not grow with the text. For readers that need only the top-level items of a large text,
// or of a text with a part left out.
void scan_items(std::string_view before, std::string_view after,
                const std::function<bool(const ScannedItem&)>& visit,
                size_t window_bytes = 64 * 1024, ScanStart start = {});

}  // namespace quib
