// Whole-document and single-declaration formatting over the parser's flat item list.
#include "syntax/formatter.h"

#include "syntax/ast_view.h"
#include "syntax/format_item.h"
#include "syntax/layout_writer.h"
#include "syntax/parse.h"

namespace quib {
namespace {

using K = SyntaxKind;

uint8_t metadata_sort_key(const SyntaxNode& node) {
  const std::optional<Metadata> metadata = Metadata::cast(node);
  QUIB_ASSERT(metadata.has_value(), "metadata sort key asked of a non-metadata node");
  const std::optional<MetadataField> field = metadata->field();
  if (!field) return kOtherFieldSortKey;
  switch (field->tag()) {
    case MetadataField::Help:
      return kHelpSortKey;
    case MetadataField::Desc:
      return kDescSortKey;
    case MetadataField::Pass:
      return kPassSortKey;
    case MetadataField::Fail:
      return kFailSortKey;
    case MetadataField::Other:
      break;
  }
  return kOtherFieldSortKey;
}

std::string_view trim_end_layout(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

bool is_declaration(K kind) {
  return kind == K::Directive || kind == K::Metadata || kind == K::GroupLine || kind == K::Task;
}

bool touches(TextRange range, TextRange node) {
  if (range.empty()) return node.contains(range.start);
  return node.start < range.end && range.start < node.end;
}

// Whether `node` stands inside a group: the last group line before it opened one.
bool inside_group(const SyntaxNode& root, const SyntaxNode& node) {
  bool open = false;
  for (const SyntaxNode& child : root.children()) {
    if (child.text_range().start >= node.text_range().start) break;
    const std::optional<GroupLine> line = GroupLine::cast(child);
    if (!line) continue;
    open = false;
    for (const SyntaxToken& token : child.tokens()) {
      if (token.kind() == K::LBrace) open = true;
    }
  }
  return open;
}

// The start of the node's line when only spaces and tabs precede the node on it, else the
// node's own start. A lone carriage return ends a line too.
uint32_t edit_start(std::string_view text, uint32_t node_start) {
  uint32_t start = node_start;
  while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
  if (start == 0 || text[start - 1] == '\n' || text[start - 1] == '\r') return start;
  return node_start;
}

// The end of the node's last line that holds more than blanks, its line break included. A
// task's node also holds the blank lines after its commands; they are no part of the
// declaration, and replacing them would pull the next item up against it.
uint32_t edit_end(std::string_view text, TextRange node) {
  uint32_t end = node.end;
  while (end > node.start && (text[end - 1] == ' ' || text[end - 1] == '\t' ||
                              text[end - 1] == '\r' || text[end - 1] == '\n')) {
    --end;
  }
  while (end < node.end && (text[end] == ' ' || text[end] == '\t')) ++end;
  if (end < node.end && text[end] == '\r') ++end;
  if (end < node.end && text[end] == '\n') ++end;
  return end;
}

}  // namespace

std::optional<std::string> format_document(std::string_view text) {
  return format_document(text, parse(text));
}

std::optional<std::string> format_document(std::string_view text, const ParseResult& parsed) {
  if (!parsed.diagnostics.empty()) return std::nullopt;
  LayoutWriter writer;
  for (const SyntaxElement& child : parsed.root.children_with_tokens()) {
    if (const SyntaxNode* node = child.as_node()) {
      auto result = format_item(*node, text);
      if (std::holds_alternative<ItemError>(result)) return std::nullopt;
      ItemLayout& layout = std::get<ItemLayout>(result);
      if (layout.kind == LayoutItemKind::Metadata) {
        writer.defer_metadata(metadata_sort_key(*node), std::move(layout.text));
      } else {
        writer.flush_metadata();
        writer.emit_item(layout.kind, layout.text);
      }
      continue;
    }
    const SyntaxToken& token = *child.as_token();
    switch (token.kind()) {
      case K::Comment:
        writer.flush_metadata();
        writer.emit_item(LayoutItemKind::Comment, trim_end_layout(token.text()));
        break;
      case K::Newline:
        writer.line_break();
        break;
      case K::ByteOrderMark:
        writer.write_mark(token.text());
        break;
      case K::Whitespace:
      case K::Indent:
        break;
      default:
        QUIB_ASSERT(false, "document children must be items and trivia tokens");
    }
  }
  return std::move(writer).finish();
}

std::optional<DeclarationEdit> format_declaration(std::string_view text, TextRange range) {
  return format_declaration(text, parse(text), range);
}

std::optional<DeclarationEdit> format_declaration(std::string_view text, const ParseResult& parsed,
                                                  TextRange range) {
  if (!parsed.diagnostics.empty()) return std::nullopt;
  std::optional<SyntaxNode> touched;
  for (const SyntaxNode& child : parsed.root.children()) {
    if (!is_declaration(child.kind()) || !touches(range, child.text_range())) continue;
    if (touched) return std::nullopt;
    touched = child;
  }
  if (!touched) return std::nullopt;

  auto result = format_item(*touched, text);
  if (std::holds_alternative<ItemError>(result)) return std::nullopt;
  const ItemLayout& layout = std::get<ItemLayout>(result);
  // Group lines stay at column 0, as the whole-document layout writes them.
  const bool indent = layout.kind != LayoutItemKind::GroupOpen &&
                      layout.kind != LayoutItemKind::GroupClose &&
                      inside_group(parsed.root, *touched);
  std::string new_text = indent ? indent_block(layout.text) : layout.text;
  new_text += '\n';
  const TextRange node = touched->text_range();
  return DeclarationEdit{TextRange(edit_start(text, node.start), edit_end(text, node)),
                         std::move(new_text)};
}

}  // namespace quib
