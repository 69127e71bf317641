// Collection walks the root's items once, in document order, and sorts each item's spans on
// their own. That equals four separate passes (directives, group lines, tasks, metadata) whose
// spans are then stably sorted by start: items never nest or overlap, and every span of an item
// starts inside it (spans come from the item's own tokens, and the one empty kind, the name of
// an empty reference, sits between its braces), so spans of different items never tie, and
// within an item collection order is pass order.
#include "lsp/semantic_tokens.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <utility>

#include "lsp/json_writer.h"
#include "lsp/large_buffers.h"
#include "lsp/protocol.h"
#include "semantic/interpolation.h"
#include "syntax/ast_view.h"
#include "syntax/green_walk.h"
#include "syntax/parallel.h"

namespace quib::lsp {
namespace {

static_assert(std::size(kSemanticTokenTypes) ==
                  static_cast<size_t>(SemanticTokenType::Delimiter) + 1,
              "every legend entry has a token type and no more");

using Tokens = std::vector<RawSemanticToken>;

bool is_blank(SyntaxKind kind) {
  return kind == SyntaxKind::Whitespace || kind == SyntaxKind::Newline ||
         kind == SyntaxKind::Indent;
}

void add(Tokens& out, TextRange range, SemanticTokenType type) {
  out.push_back({range.start, range.end, type});
}

// The names of the references in `range` of the document, not their braces.
void add_interpolations(std::string_view text, TextRange range, Tokens& out) {
  if (range.end > text.size()) return;
  const std::string_view slice = text.substr(range.start, range.len());
  for_each_interpolation(slice, [&](TextRange, TextRange name) {
    out.push_back({range.start + name.start, range.start + name.end, SemanticTokenType::Variable});
  });
}

// `!name` as one span; for `!var`, the variable name: the second Word or ShellKeyword token
// (the first is `var` itself, and a variable may be called `shell`).
void collect_directive(const SyntaxNode& node, Tokens& out) {
  const std::vector<SyntaxElement> children = node.children_with_tokens();
  auto bang = std::find_if(children.begin(), children.end(), [](const SyntaxElement& child) {
    return child.kind() == SyntaxKind::Bang;
  });
  if (bang == children.end()) return;
  auto name = std::find_if(std::next(bang), children.end(), [](const SyntaxElement& child) {
    return child.is_token() && !is_blank(child.kind());
  });
  if (name == children.end()) return;
  add(out, TextRange(bang->text_range().start, name->text_range().end),
      SemanticTokenType::Directive);

  const std::optional<Directive> directive = Directive::cast(node);
  if (directive->kind() != DirectiveKind::Var) return;
  int words = 0;
  for (const SyntaxElement& child : children) {
    if (child.kind() != SyntaxKind::Word && child.kind() != SyntaxKind::ShellKeyword) continue;
    if (++words == 2) {
      add(out, child.text_range(), SemanticTokenType::Variable);
      return;
    }
  }
}

// The group name; a closing `}` line has none.
void collect_group_line(const SyntaxNode& node, Tokens& out) {
  for (const SyntaxElement& child : node.children_with_tokens()) {
    if (child.kind() == SyntaxKind::Word) {
      add(out, child.text_range(), SemanticTokenType::Namespace);
      return;
    }
  }
}

// The first TaskName, ParameterList and ShellOverride child of a header, found in one look at
// its children.
struct HeaderParts {
  std::optional<SyntaxNode> name;
  std::optional<SyntaxNode> parameters;
  std::optional<SyntaxNode> shell;
};

HeaderParts header_parts(const TaskHeader& header) {
  HeaderParts parts;
  for (std::optional<SyntaxNode> child = header.syntax().first_child(); child;
       child = child->next_sibling()) {
    std::optional<SyntaxNode>* slot = child->kind() == SyntaxKind::TaskName ? &parts.name
                                      : child->kind() == SyntaxKind::ParameterList
                                          ? &parts.parameters
                                      : child->kind() == SyntaxKind::ShellOverride ? &parts.shell
                                                                                   : nullptr;
    if (slot && !*slot) *slot = *child;
  }
  return parts;
}

// The header view and body lines of one task, kept from task to task so that their lists are
// allocated once per request.
struct TaskScratch {
  TaskHeaderView view;
  std::vector<BodyLine> lines;
};

void collect_task(const SyntaxNode& node, std::string_view text, TaskScratch& scratch,
                  Tokens& out) {
  const std::optional<Task> task = Task::cast(node);
  if (const std::optional<TaskHeader> header = task->header()) {
    const HeaderParts parts = header_parts(*header);
    if (parts.name) {
      if (auto range = TaskName::cast(*parts.name)->token_range()) {
        add(out, *range, SemanticTokenType::Task);
      }
    }
    if (parts.parameters) {
      for (const SyntaxElement& child : parts.parameters->children_with_tokens()) {
        if (child.kind() == SyntaxKind::LParen || child.kind() == SyntaxKind::RParen) {
          add(out, child.text_range(), SemanticTokenType::Delimiter);
        }
      }
    }
    task->header_view_into(scratch.view);
    const TaskHeaderView& view = scratch.view;
    for (const ParameterView& parameter : view.parameters) {
      add(out, parameter.name_range, SemanticTokenType::Parameter);
    }
    for (const GuardView& guard : view.guards) add(out, guard.head_range, SemanticTokenType::Guard);
    for (const DependencyView& dependency : view.dependencies) {
      add(out, dependency.name_range, SemanticTokenType::Dependency);
    }
    if (parts.shell) {
      std::optional<TextRange> span;
      for (const SyntaxToken& token : parts.shell->tokens()) {
        if (is_blank(token.kind())) continue;
        const TextRange range = token.text_range();
        span = span ? TextRange(span->start, range.end) : range;
      }
      if (span) add(out, *span, SemanticTokenType::Shell);
    }
  }
  task->body_lines_into(scratch.lines);
  for (const BodyLine& line : scratch.lines) {
    add_interpolations(text, line.range, out);
    for (const TextRange& marker : line.marker_ranges) {
      add(out, marker, SemanticTokenType::BlockMarker);
    }
  }
}

void collect_metadata(const SyntaxNode& node, std::string_view text, Tokens& out) {
  if (auto key = Metadata::cast(node)->key_range()) add(out, *key, SemanticTokenType::Metadata);
  add_interpolations(text, node.text_range(), out);
}

// Stably sorts one item's spans by start. They mostly come nearly in order (a span is out of
// place only by the few spans of its own header clause or body line, such as a closing
// parenthesis collected before the parameters it follows), so an insertion sort is about linear,
// and unlike `std::stable_sort` it takes no buffer from the heap for every item. A block, though,
// has its markers collected after all of its references: once the insertions have moved more
// spans than a few per span, the rest is left to `std::stable_sort`, so that a block of many
// lines costs O(n log n), not O(n^2).
void sort_by_start(Tokens& spans) {
  const size_t move_budget = 4 * spans.size();
  size_t moves = 0;
  for (size_t i = 1; i < spans.size(); ++i) {
    const RawSemanticToken span = spans[i];
    size_t j = i;
    for (; j > 0 && spans[j - 1].start > span.start; --j) spans[j] = spans[j - 1];
    spans[j] = span;
    moves += i - j;
    if (moves > move_budget) {
      std::stable_sort(
          spans.begin(), spans.end(),
          [](const RawSemanticToken& a, const RawSemanticToken& b) { return a.start < b.start; });
      return;
    }
  }
}

// Calls `on_item` with the spans of each coloured item from `item` on that comes before the
// root's child at `stop`, in document order, each item's sorted by start; the span list is
// reused from item to item.
template <class OnItem>
void for_each_item_spans(std::optional<SyntaxNode> item, uint32_t stop, std::string_view text,
                         OnItem&& on_item) {
  Tokens spans;
  TaskScratch scratch;
  // Items never nest and are all children of the root, so no deeper walk is needed.
  for (bool more = item.has_value(); more && item->index() < stop;
       more = item->step_to_next_sibling()) {
    spans.clear();
    switch (item->kind()) {
      case SyntaxKind::Directive:
        collect_directive(*item, spans);
        break;
      case SyntaxKind::GroupLine:
        collect_group_line(*item, spans);
        break;
      case SyntaxKind::Task:
        collect_task(*item, text, scratch, spans);
        break;
      case SyntaxKind::Metadata:
        collect_metadata(*item, text, spans);
        break;
      default:
        continue;
    }
    sort_by_start(spans);
    on_item(std::as_const(spans));
  }
}

// The relative five-integer form, one span at a time in start order, into a list, or as JSON
// text: then the integers go out in chunks, and the list never holds more than a chunk (and the
// first span, when held back for re-basing).
class TokenEncoder {
 public:
  static constexpr size_t kFieldsPerToken = 5;

  // `line_hint`: a line that starts at or before the first span.
  explicit TokenEncoder(const LineIndex& lines, uint32_t line_hint = 0)
      : lines_(lines), line_hint_(line_hint) {}

  // Writes the integers into `text`, a JSON list holding a number already when
  // `after_another`, except the first span's when `hold_first` (see `rebased_first`).
  void write_text(std::string& text, bool after_another, bool hold_first) {
    text_ = &text;
    text_holds_numbers_ = after_another;
    held_ = hold_first ? kFieldsPerToken : 0;
    data_.reserve(held_ + kChunkIntegers + kFieldsPerToken);
  }

  void add(const RawSemanticToken& token) {
    uint32_t end_hint = line_hint_;
    const Range range{lines_.position_at_or_after(token.start, line_hint_),
                      lines_.position_at_or_after(token.end, end_hint)};
    if (range.end.line != range.start.line) return;
    const uint32_t line_delta = range.start.line - previous_.line;
    const uint32_t column =
        line_delta == 0 ? range.start.character - previous_.character : range.start.character;
    data_.insert(data_.end(), {line_delta, column, range.end.character - range.start.character,
                               static_cast<uint32_t>(token.token_type), 0});
    if (!encoded_any_) first_ = range.start;
    encoded_any_ = true;
    previous_ = range.start;
    if (text_ != nullptr && data_.size() >= held_ + kChunkIntegers) flush_text();
  }

  // Writes what is still listed after the held span into the text.
  void flush_text() {
    if (data_.size() <= held_) return;
    append_integers(*text_, std::span<const uint32_t>(data_).subspan(held_), text_holds_numbers_);
    text_holds_numbers_ = true;
    data_.resize(held_);
  }

  // Appends the data of `rest`, which encoded the spans that follow this encoder's as if none
  // came before them: only its first span's line and column then change, to be relative to
  // this encoder's last span.
  void append(const TokenEncoder& rest) {
    if (rest.data_.empty()) return;
    const size_t first = data_.size();
    data_.insert(data_.end(), rest.data_.begin(), rest.data_.end());
    data_[first] = rest.first_.line - previous_.line;
    data_[first + 1] =
        data_[first] == 0 ? rest.first_.character - previous_.character : rest.first_.character;
    if (first == 0) first_ = rest.first_;
    previous_ = rest.previous_;
  }

  // The first span of this encoder, which encoded as if no span came before it, re-based to
  // follow the last span of `before`; nothing when it encoded no span.
  std::optional<std::array<uint32_t, kFieldsPerToken>> rebased_first(
      const TokenEncoder& before) const {
    if (!encoded_any_) return std::nullopt;
    std::array<uint32_t, kFieldsPerToken> first;
    std::copy_n(data_.begin(), kFieldsPerToken, first.begin());
    first[0] = first_.line - before.previous_.line;
    first[1] = first[0] == 0 ? first_.character - before.previous_.character : first_.character;
    return first;
  }

  std::vector<uint32_t>& data() { return data_; }
  bool text_holds_numbers() const { return text_holds_numbers_; }

 private:
  static constexpr size_t kChunkIntegers = 4096;
  const LineIndex& lines_;
  std::vector<uint32_t> data_;
  Position first_;     // the start of the first span encoded
  Position previous_;  // the start of the last span encoded
  uint32_t line_hint_ = 0;
  bool encoded_any_ = false;
  std::string* text_ = nullptr;  // where the integers go, when written as text
  bool text_holds_numbers_ = false;
  size_t held_ = 0;  // integers at the list's start kept out of the text
};

// Below this size a document's spans are collected on the calling thread alone: sharing the
// work with the helper thread would cost more than it saves.
constexpr size_t kTwoPartBytes = 256 * 1024;

// Documents hold about a span per 20 bytes; room for one per 16 spares the answer a copy per
// doubling, and the pages it leaves unused are never touched.
size_t expected_data(size_t bytes) {
  return bytes / 16 * 5;
}

// Encodes the items before `stop` from `from` on into `encoder`.
void encode_items(const DocumentSnapshot& snapshot, TokenEncoder& encoder,
                  std::optional<SyntaxNode> from, uint32_t stop) {
  for_each_item_spans(std::move(from), stop, snapshot.text, [&](const Tokens& spans) {
    for (const RawSemanticToken& token : spans) encoder.add(token);
  });
}

// How semantic tokens in two parts have lately divided between the threads.
DivisionBalance& highlight_balance() {
  // Never destroyed: an answer may be computed while static objects are destroyed.
  static auto* balance = new DivisionBalance();
  return *balance;
}

// The answer with the items after `cut` collected on the helper thread, none when `cut` is at
// the end. Spans go to the encoders item by item, so no list of the whole document's spans is
// built. Other requests may walk the same tree at the same time, and the helper thread walks it
// too: each walks it through handles of a root of its own.
std::vector<uint32_t> encode_in_parts(const DocumentSnapshot& snapshot, ChildCut cut) {
  const LineIndex& lines = snapshot.lines();
  const SyntaxNode first_root = snapshot.parse_result.root.share_root();
  TokenEncoder first(lines);
  first.data().reserve(expected_data(snapshot.text.size()));
  if (cut.index >= first_root.child_count()) {
    encode_items(snapshot, first, first_root.first_child(), UINT32_MAX);
    return std::move(first.data());
  }
  const SyntaxNode second_root = snapshot.parse_result.root.share_root();
  TokenEncoder second(lines, lines.position_of(cut.offset).line);
  second.data().reserve(expected_data(snapshot.text.size() - cut.offset));
  run_divided(
      highlight_balance(), share_before(first_root.green(), cut),
      [&] { encode_items(snapshot, first, first_root.first_child(), cut.index); },
      [&] { encode_items(snapshot, second, second_root.first_child_from(cut.index), UINT32_MAX); });
  first.append(second);
  return std::move(first.data());
}

// Documents hold about a span per 20 bytes, about 11 characters of JSON each.
size_t expected_text(size_t bytes) {
  return bytes / 16 * 12;
}

// As `encode_in_parts`, written as the answer's JSON text: the first part straight into the
// answer, which takes kept storage; the second into a text of its own, its first span held back
// until the first part's last is known.
std::string encode_json_in_parts(const DocumentSnapshot& snapshot, ChildCut cut) {
  const LineIndex& lines = snapshot.lines();
  const SyntaxNode first_root = snapshot.parse_result.root.share_root();
  std::string answer = large_buffers().take();
  answer.reserve(expected_text(snapshot.text.size()));
  answer.append(R"({"data":[)");
  TokenEncoder first(lines);
  first.write_text(answer, false, false);
  if (cut.index >= first_root.child_count()) {
    encode_items(snapshot, first, first_root.first_child(), UINT32_MAX);
    first.flush_text();
  } else {
    const SyntaxNode second_root = snapshot.parse_result.root.share_root();
    std::string rest;
    rest.reserve(expected_text(snapshot.text.size() - cut.offset));
    TokenEncoder second(lines, lines.position_of(cut.offset).line);
    second.write_text(rest, true, true);
    run_divided(
        highlight_balance(), share_before(first_root.green(), cut),
        [&] {
          encode_items(snapshot, first, first_root.first_child(), cut.index);
          first.flush_text();
        },
        [&] {
          encode_items(snapshot, second, second_root.first_child_from(cut.index), UINT32_MAX);
          second.flush_text();
        });
    if (const auto rebased = second.rebased_first(first)) {
      append_integers(answer, *rebased, first.text_holds_numbers());
      answer.append(rest);
    }
  }
  answer.append("]}");
  return answer;
}

// Where a document's items are split between the two threads: at the item where both are
// expected to end together in a large document, nowhere in a small one.
ChildCut default_cut(const DocumentSnapshot& snapshot) {
  const GreenNode& root = snapshot.parse_result.root.green();
  const bool large = snapshot.text.size() >= kTwoPartBytes;
  return large ? cut_at_share(root, caller_share(highlight_balance()))
               : cut_before(root, UINT32_MAX);
}

}  // namespace

std::vector<RawSemanticToken> collect_semantic_tokens(const SyntaxNode& root,
                                                      std::string_view text) {
  Tokens all;
  for_each_item_spans(root.first_child(), UINT32_MAX, text, [&](const Tokens& spans) {
    all.insert(all.end(), spans.begin(), spans.end());
  });
  return all;
}

std::vector<uint32_t> semantic_tokens(const DocumentSnapshot& snapshot) {
  return encode_in_parts(snapshot, default_cut(snapshot));
}

std::vector<uint32_t> semantic_tokens(const DocumentSnapshot& snapshot, uint32_t cut) {
  return encode_in_parts(snapshot, cut_before(snapshot.parse_result.root.green(), cut));
}

std::string semantic_tokens_json(const DocumentSnapshot& snapshot) {
  return encode_json_in_parts(snapshot, default_cut(snapshot));
}

std::string semantic_tokens_json(const DocumentSnapshot& snapshot, uint32_t cut) {
  return encode_json_in_parts(snapshot, cut_before(snapshot.parse_result.root.green(), cut));
}

}  // namespace quib::lsp
