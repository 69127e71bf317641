// The formatter's entry points: the canonical layout of a whole Quibfile, or of the one
// declaration a byte range touches. Pure functions of the text; they refuse (give nothing) when
// the parse has any diagnostic and never move anything but metadata lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "syntax/parse.h"
#include "syntax/text_range.h"

namespace quib {

// The whole text in canonical layout; equal to `text` when it already is. Nothing when the
// parse reports a diagnostic or an item cannot be laid out. A non-empty result ends with
// exactly one line feed.
std::optional<std::string> format_document(std::string_view text);
// The same for a text already parsed: `parsed` must be the parse of exactly `text`. A large
// text is laid out in two parts, on the calling and the helper thread.
std::optional<std::string> format_document(std::string_view text, const ParseResult& parsed);
// The same, written into `storage` (emptied first), whose capacity holds the result: a large
// spare buffer lent here, already in memory, spares a large result fresh pages.
std::optional<std::string> format_document_into(std::string_view text, const ParseResult& parsed,
                                                std::string storage);
// The same, with the second part starting at the root's child `cut` whatever the text's size
// (none when `cut` is the child count or more): for tests of the two-part path.
std::optional<std::string> format_document(std::string_view text, const ParseResult& parsed,
                                           uint32_t cut);

// A replacement for one declaration. `range` is in document bytes; `new_text` ends with a line
// feed and carries the declaration's group indentation.
struct DeclarationEdit {
  TextRange range;
  std::string new_text;
};

// Formats the one directive, metadata line, group line or task that `range` touches (an empty
// range touches the node containing its offset). The edit runs from the start of the node's
// line, when only blanks precede it there, to the node's end, its final line break included.
// Nothing when the parse reports a diagnostic, when the range touches no declaration or more
// than one, or when the declaration cannot be laid out.
std::optional<DeclarationEdit> format_declaration(std::string_view text, TextRange range);
// The same for a text already parsed: `parsed` must be the parse of exactly `text`.
std::optional<DeclarationEdit> format_declaration(std::string_view text, const ParseResult& parsed,
                                                  TextRange range);

}  // namespace quib
