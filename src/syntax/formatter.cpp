// Whole-document and single-declaration formatting over the parser's flat item list.
#include "syntax/formatter.h"

#include "syntax/ast_view.h"
#include "syntax/format_item.h"
#include "syntax/green_walk.h"
#include "syntax/layout_writer.h"
#include "syntax/parse.h"

namespace quib {
namespace {

using K = SyntaxKind;

// The sort key of a laid-out metadata line, which starts with "[key]" (the key holds no `]`).
uint8_t metadata_sort_key(std::string_view layout) {
  QUIB_ASSERT(layout.starts_with('['), "metadata sort key asked of a non-metadata layout");
  const MetadataField field = MetadataField::from_word(layout.substr(1, layout.find(']') - 1));
  switch (field.tag()) {
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

// Calls `visit(child, offset)` for every direct child of the root, in document order.
template <typename Visit>
void for_each_root_child(const ParseResult& parsed, Visit&& visit) {
  for_each_child(parsed.root.green(), parsed.root.text_range().start, visit);
}

bool has_left_brace(const GreenNode& node) {
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const GreenElement& child = node.child(i);
    if (child.is_token() ? child.kind() == K::LBrace : has_left_brace(*child.as_node())) {
      return true;
    }
  }
  return false;
}

// Whether an item starting at `start` stands inside a group: the last group line before it
// opened one.
bool inside_group(const ParseResult& parsed, uint32_t start) {
  bool open = false;
  for_each_root_child(parsed, [&](const GreenElement& child, uint32_t at) {
    if (at >= start || child.is_token() || child.kind() != K::GroupLine) return;
    open = has_left_brace(*child.as_node());
  });
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
  // Group indentation can make the output a little longer than the input.
  writer.reserve(text.size() + text.size() / 8);
  // Each item is laid out here, then copied into the output; the buffer is reused.
  std::string layout;
  bool laid_out = true;
  for_each_root_child(parsed, [&](const GreenElement& child, uint32_t at) {
    if (!laid_out) return;
    if (const GreenNode* node = child.as_node()) {
      layout.clear();
      const auto kind = append_item_layout(*node, at, text, layout);
      if (std::holds_alternative<ItemError>(kind)) {
        laid_out = false;
      } else if (std::get<LayoutItemKind>(kind) == LayoutItemKind::Metadata) {
        writer.defer_metadata(metadata_sort_key(layout), layout);
      } else {
        writer.flush_metadata();
        writer.emit_item(std::get<LayoutItemKind>(kind), layout);
      }
      return;
    }
    const GreenToken& token = *child.as_token();
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
  });
  if (!laid_out) return std::nullopt;
  return std::move(writer).finish();
}

std::optional<DeclarationEdit> format_declaration(std::string_view text, TextRange range) {
  return format_declaration(text, parse(text), range);
}

std::optional<DeclarationEdit> format_declaration(std::string_view text, const ParseResult& parsed,
                                                  TextRange range) {
  if (!parsed.diagnostics.empty()) return std::nullopt;
  std::optional<GreenAt> touched;
  bool ambiguous = false;
  for_each_root_child(parsed, [&](const GreenElement& child, uint32_t at) {
    if (child.is_token() || !is_declaration(child.kind())) return;
    const GreenAt item{child.as_node(), at};
    if (!touches(range, item.range())) return;
    if (touched) ambiguous = true;
    touched = item;
  });
  if (!touched || ambiguous) return std::nullopt;

  std::string layout;
  const auto kind = append_item_layout(*touched->node, touched->offset, text, layout);
  if (std::holds_alternative<ItemError>(kind)) return std::nullopt;
  // Group lines stay at column 0, as the whole-document layout writes them.
  const bool indent = std::get<LayoutItemKind>(kind) != LayoutItemKind::GroupOpen &&
                      std::get<LayoutItemKind>(kind) != LayoutItemKind::GroupClose &&
                      inside_group(parsed, touched->offset);
  std::string new_text;
  if (indent) {
    append_indented(new_text, layout);
  } else {
    new_text = std::move(layout);
  }
  new_text += '\n';
  const TextRange node = touched->range();
  return DeclarationEdit{TextRange(edit_start(text, node.start), edit_end(text, node)),
                         std::move(new_text)};
}

}  // namespace quib
