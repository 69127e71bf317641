// Whole-document and single-declaration formatting over the parser's flat item list.
#include "syntax/formatter.h"

#include <string>
#include <vector>

#include "syntax/ast_view.h"
#include "syntax/format_item.h"
#include "syntax/green_walk.h"
#include "syntax/layout_writer.h"
#include "syntax/parallel.h"
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

// Below this size a document is laid out on the calling thread alone: sharing the work with
// the helper thread would cost more than it saves.
constexpr size_t kTwoPartBytes = 256 * 1024;

// The calls a run of root children makes on a LayoutWriter, kept to be played onto one later,
// in order, with copies of their texts.
class RecordedLayout {
 public:
  // Room for the calls of `children` root children (at most two each) whose text is `bytes`
  // long, so that the recording never regrows (each regrowth holds the old copy and the new one
  // at once).
  void reserve(uint32_t children, size_t bytes) {
    calls_.reserve(2 * size_t{children});
    texts_.reserve(bytes + bytes / 8);
  }
  void write_mark(std::string_view mark) { record(Op::Mark, 0, LayoutItemKind::None, mark); }
  void line_break() { record(Op::LineBreak, 0, LayoutItemKind::None, {}); }
  void defer_metadata(uint8_t sort_key, std::string_view text) {
    record(Op::Metadata, sort_key, LayoutItemKind::Metadata, text);
    deferred_ = true;
  }
  // Only the first flush and those after a deferred line change anything; the first may end a
  // run that began before the recording.
  void flush_metadata() {
    if (flushed_ && !deferred_) return;
    record(Op::FlushMetadata, 0, LayoutItemKind::None, {});
    flushed_ = true;
    deferred_ = false;
  }
  void emit_item(LayoutItemKind kind, std::string_view text) { record(Op::Item, 0, kind, text); }

  void play(LayoutWriter& writer) const {
    for (const Call& call : calls_) {
      const std::string_view text = std::string_view(texts_).substr(call.start, call.size);
      switch (call.op) {
        case Op::Mark:
          writer.write_mark(text);
          break;
        case Op::LineBreak:
          writer.line_break();
          break;
        case Op::Metadata:
          writer.defer_metadata(call.sort_key, text);
          break;
        case Op::FlushMetadata:
          writer.flush_metadata();
          break;
        case Op::Item:
          writer.emit_item(call.kind, text);
          break;
      }
    }
  }

 private:
  enum class Op : uint8_t { Mark, LineBreak, Metadata, FlushMetadata, Item };
  // Twelve bytes: a large document's second half makes tens of thousands of calls, held while
  // the whole output is being written.
  struct Call {
    Op op;
    uint8_t sort_key;
    LayoutItemKind kind;
    uint32_t start;  // the text's place in `texts_`
    uint32_t size;
  };

  void record(Op op, uint8_t sort_key, LayoutItemKind kind, std::string_view text) {
    QUIB_ASSERT(texts_.size() + text.size() < (uint64_t{1} << 32),
                "a recorded layout is shorter than 4 GiB");
    calls_.push_back({op, sort_key, kind, static_cast<uint32_t>(texts_.size()),
                      static_cast<uint32_t>(text.size())});
    texts_ += text;
  }

  std::vector<Call> calls_;
  std::string texts_;
  bool flushed_ = false;   // a flush is recorded
  bool deferred_ = false;  // a metadata line is recorded after the last flush
};

// Lays out the root's children [begin, end), the first of which starts at offset `at`, onto
// `writer`, a LayoutWriter or a RecordedLayout; false when an item cannot be laid out (the
// rest are then skipped).
template <typename Writer>
bool write_children(const GreenNode& root, uint32_t begin, uint32_t at, uint32_t end,
                    std::string_view text, Writer& writer) {
  // Each item is laid out here, then copied into the output; the buffer is reused.
  std::string layout;
  for (uint32_t i = begin; i < end; at += root.child(i).text_len(), ++i) {
    const GreenElement child = root.child(i);
    if (const GreenNode* node = child.as_node()) {
      layout.clear();
      const auto kind = append_item_layout(*node, at, text, layout);
      if (std::holds_alternative<ItemError>(kind)) return false;
      if (std::get<LayoutItemKind>(kind) == LayoutItemKind::Metadata) {
        writer.defer_metadata(metadata_sort_key(layout), layout);
      } else {
        writer.flush_metadata();
        writer.emit_item(std::get<LayoutItemKind>(kind), layout);
      }
      continue;
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
  }
  return true;
}

// How layouts in two parts have lately divided between the threads.
DivisionBalance& format_balance() {
  // Never destroyed: a document may be formatted while static objects are destroyed.
  static auto* balance = new DivisionBalance();
  return *balance;
}

// The layout with the items after `cut` laid out on the helper thread into a recording while
// the first part's are written, none when `cut` is at the end. The recording is then played
// onto the same writer, so the output is that of one part.
std::optional<std::string> format_in_parts(std::string_view text, const ParseResult& parsed,
                                           ChildCut cut, std::string storage) {
  if (!parsed.diagnostics.empty()) return std::nullopt;
  const GreenNode& root = parsed.root.green();
  const uint32_t count = root.child_count();
  LayoutWriter writer(std::move(storage));
  // Group indentation can make the output a little longer than the input.
  writer.reserve(text.size() + text.size() / 8);
  bool laid_out = true;
  if (cut.index >= count) {
    laid_out = write_children(root, 0, 0, count, text, writer);
  } else {
    RecordedLayout rest;
    rest.reserve(count - cut.index, text.size() - cut.offset);
    bool rest_laid_out = true;
    run_divided(
        format_balance(), share_before(root, cut),
        [&] { laid_out = write_children(root, 0, 0, cut.index, text, writer); },
        [&] { rest_laid_out = write_children(root, cut.index, cut.offset, count, text, rest); });
    laid_out = laid_out && rest_laid_out;
    if (laid_out) rest.play(writer);
  }
  if (!laid_out) return std::nullopt;
  return std::move(writer).finish();
}

}  // namespace

std::optional<std::string> format_document(std::string_view text) {
  return format_document(text, parse(text));
}

std::optional<std::string> format_document(std::string_view text, const ParseResult& parsed) {
  return format_document_into(text, parsed, std::string());
}

std::optional<std::string> format_document_into(std::string_view text, const ParseResult& parsed,
                                                std::string storage) {
  const GreenNode& root = parsed.root.green();
  const bool large = text.size() >= kTwoPartBytes;
  return format_in_parts(
      text, parsed,
      large ? cut_at_share(root, caller_share(format_balance())) : cut_before(root, UINT32_MAX),
      std::move(storage));
}

std::optional<std::string> format_document(std::string_view text, const ParseResult& parsed,
                                           uint32_t cut) {
  return format_in_parts(text, parsed, cut_before(parsed.root.green(), cut), std::string());
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
