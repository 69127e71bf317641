// The canonical layout of one item (directive, metadata line, group line, task) and the text
// operations it is built from. Knows nothing of blank lines between items or of group
// indentation; the layout writer and the formatter entry points add those.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "syntax/syntax_node.h"

namespace quib {

// The kind of an item handed to the layout writer. `None` stands for the state before any item
// was written.
enum class LayoutItemKind : uint8_t {
  Directive = 0,
  Comment = 1,
  Metadata = 2,
  GroupOpen = 3,
  GroupClose = 4,
  Task = 5,
  None = 255,
};

// One laid-out item. Invariant: `text` has no trailing line break and no group indentation;
// it may span several lines, separated by "\n".
struct ItemLayout {
  LayoutItemKind kind;
  std::string text;
};

// Why an item cannot be laid out. `message` is one of the fixed texts below; it ends the whole
// formatting run and is never shown to the user.
struct ItemError {
  std::string_view message;
};

inline constexpr std::string_view kInvalidDirective = "invalid directive";
inline constexpr std::string_view kInvalidVariableDirective = "invalid variable directive";
inline constexpr std::string_view kInvalidMetadataField = "invalid metadata field";
inline constexpr std::string_view kInvalidGroup = "invalid group";
inline constexpr std::string_view kTaskWithoutHeader = "task has no header";
inline constexpr std::string_view kTaskHeaderWithoutName = "task header has no name";
// A valid header whose text the clause layout cannot carry: a comment or an unterminated
// string inside it, text outside its clauses (a second parameter list), tokens in its parameter
// list outside any parameter, or a parameter list that does not end with its `)`.
inline constexpr std::string_view kUnlayableTaskHeader =
    "task header cannot be laid out without losing text";
inline constexpr std::string_view kInvalidSyntax = "cannot format invalid syntax";
inline constexpr std::string_view kNotADeclaration = "range does not contain a declaration";

// Lays out one item node of the document `text` (the text the node's tree was parsed from;
// it is used to slice the source of the node).
std::variant<ItemLayout, ItemError> format_item(const SyntaxNode& node, std::string_view text);

// The same for the green item `node` whose first byte is at `offset` in `text`, appending the
// layout (what ItemLayout::text would hold) to `out` and giving its kind. It reads the green
// children with offsets computed on the way, so a whole-document run makes no red handle and
// no token list per item. After an error `out` may hold part of a layout.
std::variant<LayoutItemKind, ItemError> append_item_layout(const GreenNode& node, uint32_t offset,
                                                           std::string_view text, std::string& out);

// Prefixes every non-empty line of `text` with four spaces; empty lines stay empty. Lines are
// split at "\n"; a "\r" right before a "\n" is dropped.
std::string indent_block(std::string_view text);
// indent_block(text) appended to `out`.
void append_indented(std::string& out, std::string_view text);

// Trims the white space inside each "{{ name }}" reference, finding references exactly as the
// interpolation scanner does (an opening after an odd number of backslashes is escaped, the
// first "}}" closes), so the names it sees never change. A reference whose trimmed name ends
// with "}" is kept as written: trimming would move its closing braces.
std::string normalize_placeholders(std::string_view text);
// normalize_placeholders(text) appended to `out`.
void append_normalized_placeholders(std::string& out, std::string_view text);

// Canonical spacing of a guard or dependency expression: no blanks around parentheses or before
// commas, one space after commas and between other tokens. Works on the lexer's tokens, so
// string literals and every other token keep their exact text.
std::string compact_expression(std::string_view text);
// compact_expression(text) appended to `out`.
void append_compact_expression(std::string& out, std::string_view text);

}  // namespace quib
