// Accessors of the typed view. They read the green children of the wrapped node with offsets
// computed on the way, so no red handles are allocated for the nodes inside a header; nothing
// here reports a diagnostic or looks beyond the node it was asked about.
#include "syntax/ast_view.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "syntax/green_walk.h"
#include "syntax/text_util.h"

namespace quib {
namespace {

using K = SyntaxKind;

// One token as the accessors see it: kind, text (a view into the green tree) and range.
struct Tok {
  K kind{};
  std::string_view text;
  TextRange range;
};

// The tokens of one node in order. A header clause or a directive has a handful of tokens, so
// they stay in the inline buffer and reading them allocates nothing; longer lists move to the
// heap. The buffer is left uninitialised until a token is stored (Tok is an aggregate of
// trivially copyable parts, so raw storage holds it). Invariant: while `size_ <= kInline` the
// tokens are the first `size_` of the buffer, else all of them are in `heap_`.
class Toks {
 public:
  Toks() = default;
  Toks(Toks&& other) noexcept : heap_(std::move(other.heap_)), size_(other.size_) {
    if (size_ <= kInline) std::uninitialized_copy_n(other.buffer(), size_, buffer());
  }
  Toks& operator=(Toks&&) = delete;

  void push_back(const Tok& tok) {
    if (size_ < kInline) {
      std::construct_at(buffer() + size_++, tok);
      return;
    }
    if (size_ == kInline) heap_.assign(buffer(), buffer() + kInline);
    heap_.push_back(tok);
    ++size_;
  }
  const Tok* data() const { return size_ <= kInline ? buffer() : heap_.data(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const Tok* begin() const { return data(); }
  const Tok* end() const { return data() + size_; }
  const Tok& operator[](size_t i) const { return data()[i]; }
  const Tok& front() const { return data()[0]; }
  const Tok& back() const { return data()[size_ - 1]; }

 private:
  static constexpr size_t kInline = 16;
  Tok* buffer() { return std::launder(reinterpret_cast<Tok*>(storage_)); }
  const Tok* buffer() const { return std::launder(reinterpret_cast<const Tok*>(storage_)); }

  alignas(Tok) std::byte storage_[kInline * sizeof(Tok)];
  std::vector<Tok> heap_;
  size_t size_ = 0;
};

static_assert(std::is_trivially_copyable_v<Tok> && std::is_trivially_destructible_v<Tok>);

Tok make_tok(const GreenToken& token, uint32_t offset) {
  return {token.kind(), token.text(), TextRange(offset, offset + token.text_len())};
}

// Whitespace, Newline and Indent are "space"; comments are not.
bool is_space(K kind) {
  return kind == K::Whitespace || kind == K::Newline || kind == K::Indent;
}

// The direct token children that are not space.
Toks non_space_child_tokens(const GreenNode& node, uint32_t offset) {
  Toks out;
  for_each_child(node, offset, [&](const GreenElement& child, uint32_t at) {
    if (child.is_token() && !is_space(child.kind())) out.push_back(make_tok(*child.as_token(), at));
  });
  return out;
}

// The first direct token child of `kind`, if any.
std::optional<Tok> first_child_token(const GreenNode& node, uint32_t offset, K kind) {
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const GreenElement child = node.child(i);
    if (child.is_token() && child.kind() == kind) return make_tok(*child.as_token(), offset);
    offset += child.text_len();
  }
  return std::nullopt;
}

std::string concat(const Tok* first, const Tok* last) {
  std::string out;
  for (const Tok* tok = first; tok != last; ++tok) out += tok->text;
  return out;
}

// Where multi-token texts come from: the wrapped node's slice of the parsed source, which
// starts at document offset `base`, or nothing for a tree built without a source, whose texts
// are then rebuilt from the tokens.
struct Source {
  std::optional<std::string_view> text;
  uint32_t base = 0;

  static Source of(const SyntaxNode& node) { return {node.text_view(), node.text_range().start}; }
};

// The document bytes of `range`, which must lie inside the subtree `node` (starting at
// `offset`) on token boundaries: a slice of the source, or the texts of the tokens starting
// inside `range` concatenated into `scratch`.
std::string_view range_text(const GreenNode& node, uint32_t offset, TextRange range,
                            const Source& source, std::string& scratch) {
  if (source.text) return source.text->substr(range.start - source.base, range.len());
  scratch.clear();
  for_each_token(node, offset, [&](const GreenToken& token, uint32_t at) {
    if (at >= range.start && at < range.end) scratch += token.text();
  });
  return scratch;
}

// The whole text of the subtree `node` at `offset`.
std::string_view node_text(const GreenNode& node, uint32_t offset, const Source& source,
                           std::string& scratch) {
  return range_text(node, offset, TextRange(offset, offset + node.text_len()), source, scratch);
}

TextRange cover(const Tok& first, const Tok& last) {
  return TextRange(first.range.start, last.range.end);
}

std::string_view trim(std::string_view text) {
  return trim_unicode_whitespace(text);
}

// ---- header clauses, on green nodes ----

std::optional<ParameterView> parameter_view(const GreenNode& node, uint32_t offset,
                                            const Source& source) {
  // The name is the first Word or ShellKeyword token, the default the first string.
  std::optional<Tok> name;
  std::optional<Tok> string;
  for_each_token(node, offset, [&](const GreenToken& token, uint32_t at) {
    const K kind = token.kind();
    if (!name && (kind == K::Word || kind == K::ShellKeyword)) name = make_tok(token, at);
    if (!string && kind == K::String) string = make_tok(token, at);
  });
  if (!name) return std::nullopt;

  ParameterView view{std::string(name->text), name->range, std::nullopt, false,
                     TextRange(offset, offset + node.text_len())};
  if (string) {
    if (auto value = unquote(string->text)) view.default_value = std::string(*value);
  }
  // `rest..` or `rest.. = "x"`: the part before the first `=` ends with "..".
  std::string scratch;
  const std::string_view text = node_text(node, offset, source, scratch);
  const std::string_view before_equals = text.substr(0, text.find('='));
  view.is_slice = trim(before_equals).ends_with("..");
  return view;
}

void collect_parameters(const GreenNode& list, uint32_t offset, const Source& source,
                        std::vector<ParameterView>& out) {
  for_each_child(list, offset, [&](const GreenElement& child, uint32_t at) {
    if (child.is_node() && child.kind() == K::Parameter) {
      if (auto view = parameter_view(*child.as_node(), at, source)) {
        out.push_back(std::move(*view));
      }
    }
  });
}

std::optional<GuardView> guard_view(const GreenNode& node, uint32_t offset) {
  std::optional<Tok> at;
  std::optional<Tok> name;
  std::optional<Tok> string;
  for_each_token(node, offset, [&](const GreenToken& token, uint32_t start) {
    const K kind = token.kind();
    // Only an `@` before the name starts the head; the parser puts it there in every valid
    // guard, and taking a later one would make the head range run backwards.
    if (!name && !at && kind == K::At) at = make_tok(token, start);
    if (!name && kind == K::Word) name = make_tok(token, start);
    if (!string && kind == K::String) string = make_tok(token, start);
  });
  if (!name || !string) return std::nullopt;
  const std::optional<std::string_view> argument = unquote(string->text);
  if (!argument) return std::nullopt;
  return GuardView{GuardKind::from_word(name->text), std::string(name->text),
                   std::string(*argument),           TextRange(offset, offset + node.text_len()),
                   cover(at ? *at : *name, *name),   string->range};
}

// The clause's direct tokens concatenated, without a leading `&`, trimmed. The parser makes
// clauses of tokens only, and then that text is one slice of the source.
std::string clause_text(const GreenNode& node, uint32_t offset, const Source& source) {
  bool flat = true;
  for (uint32_t i = 0; flat && i < node.child_count(); ++i) flat = node.child(i).is_token();
  std::string scratch;
  std::string_view rest;
  if (flat) {
    rest = node_text(node, offset, source, scratch);
  } else {
    for_each_child(node, offset, [&](const GreenElement& child, uint32_t) {
      if (child.is_token()) scratch += child.as_token()->text();
    });
    rest = scratch;
  }
  if (rest.starts_with('&')) rest.remove_prefix(1);
  return std::string(trim(rest));
}

// One part of a dependency clause, between top-level commas. A part with no token before its
// `(` names nothing and gives no entry.
void dependency_entry(const Tok* first, const Tok* last, uint32_t clause_index,
                      std::vector<DependencyView>& out) {
  const Tok* paren = first;
  while (paren != last && paren->kind != K::LParen) ++paren;
  if (paren == first) return;
  DependencyView view{concat(first, paren),
                      cover(*first, *(paren - 1)),
                      cover(*first, *(last - 1)),
                      {},
                      clause_index};
  for (const Tok* tok = first; tok != last; ++tok) {
    if (tok->kind != K::String) continue;
    if (auto text = unquote(tok->text)) view.arguments.push_back({std::string(*text), tok->range});
  }
  out.push_back(std::move(view));
}

void dependency_entries(const GreenNode& node, uint32_t offset, uint32_t clause_index,
                        std::vector<DependencyView>& out) {
  const Toks tokens = non_space_child_tokens(node, offset);
  const Tok* first = tokens.data();
  const Tok* last = tokens.data() + tokens.size();
  if (first != last && first->kind == K::Ampersand) ++first;
  // A parallel clause `& (a, b)`: its outer parentheses go.
  if (last - first >= 2 && first->kind == K::LParen && (last - 1)->kind == K::RParen) {
    ++first;
    --last;
  }
  uint32_t depth = 0;
  const Tok* part = first;
  for (const Tok* tok = first; tok != last; ++tok) {
    if (tok->kind == K::LParen) ++depth;
    if (tok->kind == K::RParen && depth > 0) --depth;
    if (tok->kind == K::Comma && depth == 0) {
      if (part != tok) dependency_entry(part, tok, clause_index, out);
      part = tok + 1;
    }
  }
  if (part != last) dependency_entry(part, last, clause_index, out);
}

// One pass over the clause's tokens, keeping only its first, its last and its last Word: a
// clause may run over millions of tokens (an unclosed parenthesis takes in the rest of the line).
std::optional<ShellOverrideView> shell_view(const GreenNode& node, uint32_t offset) {
  std::optional<Tok> first;
  std::optional<Tok> last;
  std::optional<Tok> shell;
  for_each_child(node, offset, [&](const GreenElement& child, uint32_t at) {
    if (!child.is_token() || is_space(child.kind())) return;
    const Tok tok = make_tok(*child.as_token(), at);
    if (!first) first = tok;
    last = tok;
    if (tok.kind == K::Word) shell = tok;
  });
  if (!first) return std::nullopt;
  ShellMode mode;
  if (first->kind == K::ShellKeyword) {
    mode = ShellMode::Required;
  } else if (first->kind == K::ShellTildeEquals) {
    mode = ShellMode::Preferred;
  } else {
    return std::nullopt;
  }
  if (!shell) return std::nullopt;
  return ShellOverrideView{mode, ShellKind::from_word(shell->text), cover(*first, *last),
                           shell->range};
}

// The single token inside a TaskName node.
std::optional<Tok> task_name_token(const GreenNode& node, uint32_t offset) {
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const GreenElement child = node.child(i);
    if (child.is_token()) return make_tok(*child.as_token(), offset);
    offset += child.text_len();
  }
  return std::nullopt;
}

// The first child node of `kind`, as a red handle.
std::optional<SyntaxNode> first_child_of(const SyntaxNode& node, K kind) {
  return node.first_child_of_kind(kind);
}

template <typename Wrapper>
std::vector<Wrapper> children_as(const SyntaxNode& node) {
  std::vector<Wrapper> out;
  for (const SyntaxNode& child : node.children()) {
    if (auto typed = Wrapper::cast(child)) out.push_back(std::move(*typed));
  }
  return out;
}

// ---- metadata ----

// A well-formed metadata line's key and value, as views of its text (which `scratch` may hold),
// and where they are.
struct MetadataParts {
  std::string_view key;
  std::string_view value;
  MetadataLayout layout;
};

std::optional<MetadataParts> metadata_parts(const SyntaxNode& node, std::string& scratch) {
  const std::string_view text =
      node_text(node.green(), node.text_range().start, Source::of(node), scratch);
  const std::string_view line = trim(text);
  if (!line.starts_with('[')) return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos || close == 1) return std::nullopt;
  const std::string_view key = line.substr(1, close - 1);
  for (char c : key) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok) return std::nullopt;
  }
  const std::string_view rest = line.substr(close + 1);
  const std::string_view value = trim(rest);
  const uint32_t base = node.text_range().start;
  const auto at = [&](std::string_view part) {
    return base + static_cast<uint32_t>(part.data() - text.data());
  };
  const uint32_t key_start = at(line);
  // An empty value sits just after the `]`, wherever the trim left its view.
  const uint32_t value_start = value.empty() ? at(rest) : at(value);
  return MetadataParts{
      key, value,
      MetadataLayout{MetadataField::from_word(key),
                     TextRange(key_start, key_start + static_cast<uint32_t>(key.size()) + 2),
                     TextRange(value_start, value_start + static_cast<uint32_t>(value.size()))}};
}

std::optional<MetadataLayout> metadata_layout(const SyntaxNode& node) {
  std::string scratch;
  std::optional<MetadataParts> parts = metadata_parts(node, scratch);
  if (!parts) return std::nullopt;
  return std::move(parts->layout);
}

// ---- directives ----

// A directive's `!` and name (its first two non-space tokens), and the places just after each.
// Read from the line's first tokens only: a directive line may hold millions of tokens, and
// most accessors need none after the name.
struct DirectiveHead {
  std::optional<Tok> bang;
  std::optional<Tok> name;
  ChildCut after_bang{0, 0};
  ChildCut after_name{0, 0};
};

DirectiveHead directive_head(const SyntaxNode& node) {
  DirectiveHead head;
  const GreenNode& green = node.green();
  const uint32_t start = node.text_range().start;
  ChildCut cut{0, 0};
  while (cut.index < green.child_count()) {
    const GreenElement child = green.child(cut.index);
    const uint32_t at = start + cut.offset;
    cut = {cut.index + 1, cut.offset + child.text_len()};
    if (!child.is_token() || is_space(child.kind())) continue;
    const Tok tok = make_tok(*child.as_token(), at);
    if (!head.bang) {
      head.bang = tok;
      head.after_bang = cut;
    } else {
      head.name = tok;
      head.after_name = cut;
      break;
    }
  }
  return head;
}

// Calls `visit` with each token child of `node` (which starts at `start`) from `from` on, in
// order, until it returns false.
template <typename Visit>
void visit_tokens_from(const GreenNode& node, uint32_t start, ChildCut from, Visit&& visit) {
  uint32_t offset = start + from.offset;
  for (uint32_t i = from.index; i < node.child_count(); ++i) {
    const GreenElement child = node.child(i);
    if (child.is_token() && !visit(make_tok(*child.as_token(), offset))) return;
    offset += child.text_len();
  }
}

// ---- body lines ----

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Groups consecutive block lines into one command while the body is split. Writes over the
// lines already in `out` before adding any, so that a list reused from body to body keeps the
// storage of its texts and range lists (a reader that keeps nothing, such as highlighting,
// then allocates for a body only when it is the longest yet); `finish` drops the lines left
// over.
class BodyCollector {
 public:
  BodyCollector(std::vector<BodyLine>& out, bool copy_single_lines)
      : out_(out), copy_single_lines_(copy_single_lines) {}

  // `line` is [start, end) of `body` without its terminator, which ends at `terminator_end`.
  void line(std::string_view body, uint32_t base, size_t start, size_t end, size_t terminator_end) {
    size_t content = start;
    while (content < end && is_blank(body[content])) ++content;
    if (content == end || body[content] == '#') {
      in_block_ = false;
      return;
    }
    const auto doc = [&](size_t at) { return base + static_cast<uint32_t>(at); };
    const bool block = body[content] == '|' && (content + 1 == end || is_blank(body[content + 1]));
    if (!block) {
      in_block_ = false;
      BodyLine& line = next_line();
      if (copy_single_lines_) line.text.assign(body.substr(content, end - content));
      line.range = TextRange(doc(content), doc(end));
      return;
    }
    if (!in_block_) {
      BodyLine& opened = next_line();
      opened.range = TextRange(doc(start), doc(start));
      // Room for a typical block, so its lines rarely grow the lists.
      opened.line_ranges.reserve(kTypicalBlockLines);
      opened.marker_ranges.reserve(kTypicalBlockLines);
      in_block_ = true;
    }
    BodyLine& block_line = out_[used_ - 1];
    const size_t after_marker = content + 1 < end ? content + 2 : content + 1;
    block_line.text.append(body.substr(after_marker, end - after_marker));
    block_line.text += '\n';
    block_line.range = TextRange(block_line.range.start, doc(terminator_end));
    block_line.line_ranges.emplace_back(doc(start), doc(end));
    block_line.marker_ranges.emplace_back(doc(content), doc(content + 1));
  }

  void finish() { out_.erase(out_.begin() + static_cast<std::ptrdiff_t>(used_), out_.end()); }

 private:
  // The next line of `out_`, empty but with the storage it had.
  BodyLine& next_line() {
    if (used_ == out_.size()) out_.emplace_back();
    BodyLine& line = out_[used_++];
    line.text.clear();
    line.line_ranges.clear();
    line.marker_ranges.clear();
    return line;
  }

  static constexpr size_t kTypicalBlockLines = 4;
  std::vector<BodyLine>& out_;
  const bool copy_single_lines_;
  size_t used_ = 0;
  // The last line of `out_` is a block that the next block line continues.
  bool in_block_ = false;
};

constexpr size_t kTypicalCommands = 4;

// Splits `body` (starting at document offset `base`) at LF, CR LF and lone CR.
// Replaces the contents of `out`.
void split_body(std::string_view body, uint32_t base, bool copy_single_lines,
                std::vector<BodyLine>& out) {
  // Room for the commands of a typical body, so short bodies grow the list at most once.
  if (!body.empty()) out.reserve(kTypicalCommands);
  BodyCollector collector(out, copy_single_lines);
  // Bodies are most of a document's bytes, so line ends are found with block searches rather
  // than a byte loop: the next LF and the next CR are each searched once and kept until passed,
  // so a body costs one search per line feed and almost never one for a CR.
  size_t start = 0;
  size_t newline = body.find('\n');
  size_t carriage = body.find('\r');
  while (start < body.size()) {
    if (newline != std::string_view::npos && newline < start) newline = body.find('\n', start);
    if (carriage != std::string_view::npos && carriage < start) {
      carriage = body.find('\r', start);
    }
    const size_t line_end = newline == std::string_view::npos ? body.size() : newline;
    const size_t end = std::min(carriage, line_end);
    size_t next = end;
    if (next < body.size()) {
      next += (body[next] == '\r' && next + 1 < body.size() && body[next + 1] == '\n') ? 2 : 1;
    }
    collector.line(body, base, start, end, next);
    start = next;
  }
  collector.finish();
}

}  // namespace

std::string_view name(ShellMode mode) {
  return mode == ShellMode::Required ? "shell=" : "shell~=";
}

std::optional<std::string_view> unquote(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  return text.substr(1, text.size() - 2);
}

// ---- Directive ----

std::optional<std::string> Directive::name() const {
  const DirectiveHead head = directive_head(node_);
  if (!head.name) return std::nullopt;
  return std::string(head.name->text);
}

std::optional<TextRange> Directive::name_range() const {
  const DirectiveHead head = directive_head(node_);
  if (!head.name) return std::nullopt;
  return head.name->range;
}

std::optional<DirectiveKind> Directive::kind() const {
  const DirectiveHead head = directive_head(node_);
  if (!head.name) return std::nullopt;
  return DirectiveKind::from_word(head.name->text);
}

std::optional<std::string> Directive::value_text() const {
  const DirectiveHead head = directive_head(node_);
  if (!head.bang) return std::nullopt;
  const ChildCut from = head.name && head.name->kind == K::Word ? head.after_name : head.after_bang;
  std::string text;
  visit_tokens_from(node_.green(), node_.text_range().start, from, [&](const Tok& tok) {
    if (tok.kind == K::Newline) return false;
    text += tok.text;
    return true;
  });
  const std::string_view value = trim(text);
  if (value.empty()) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> Directive::arguments() const {
  const DirectiveHead head = directive_head(node_);
  if (!head.name) return std::nullopt;
  std::string text;
  visit_tokens_from(node_.green(), node_.text_range().start, head.after_name, [&](const Tok& tok) {
    if (is_space(tok.kind)) return true;
    if (!text.empty()) text += ' ';
    text += tok.text;
    return true;
  });
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<TextRange> Directive::variable_name_range() const {
  const DirectiveHead head = directive_head(node_);
  if (!head.name) return std::nullopt;
  std::optional<TextRange> range;
  visit_tokens_from(node_.green(), node_.text_range().start, head.after_name, [&](const Tok& tok) {
    if (tok.kind == K::Equals) return false;
    if (!is_space(tok.kind)) {
      range = TextRange(range ? range->start : tok.range.start, tok.range.end);
    }
    return true;
  });
  return range;
}

// ---- Metadata ----

std::optional<MetadataField> Metadata::field() const {
  auto layout = metadata_layout(node_);
  if (!layout) return std::nullopt;
  return std::move(layout->field);
}

std::optional<MetadataView> Metadata::view() const {
  std::string scratch;
  auto parts = metadata_parts(node_, scratch);
  if (!parts) return std::nullopt;
  MetadataLayout& layout = parts->layout;
  return MetadataView{std::move(layout.field), std::string(parts->key), std::string(parts->value),
                      layout.key_range, layout.value_range};
}

std::optional<MetadataLayout> Metadata::layout() const {
  return metadata_layout(node_);
}

std::optional<std::string> Metadata::key() const {
  auto view = this->view();
  if (!view) return std::nullopt;
  return std::move(view->key);
}

std::optional<std::string> Metadata::value() const {
  auto view = this->view();
  if (!view) return std::nullopt;
  return std::move(view->value);
}

std::optional<TextRange> Metadata::key_range() const {
  auto layout = metadata_layout(node_);
  if (!layout) return std::nullopt;
  return layout->key_range;
}

std::optional<TextRange> Metadata::value_range() const {
  auto layout = metadata_layout(node_);
  if (!layout) return std::nullopt;
  return layout->value_range;
}

// ---- GroupLine ----

bool GroupLine::is_close() const {
  std::string scratch;
  return trim(node_text(node_.green(), range().start, Source::of(node_), scratch)) == "}";
}

std::optional<std::string> GroupLine::name() const {
  if (auto word = first_child_token(node_.green(), range().start, K::Word)) {
    return std::string(word->text);
  }
  return std::nullopt;
}

std::optional<TextRange> GroupLine::name_range() const {
  if (auto word = first_child_token(node_.green(), range().start, K::Word)) return word->range;
  return std::nullopt;
}

// ---- TaskName, Parameter, ParameterList, Guard, Dependency, ShellOverride ----

std::optional<std::string> TaskName::text() const {
  if (auto token = task_name_token(node_.green(), range().start)) return std::string(token->text);
  return std::nullopt;
}

std::optional<TextRange> TaskName::token_range() const {
  if (auto token = task_name_token(node_.green(), range().start)) return token->range;
  return std::nullopt;
}

std::optional<ParameterView> Parameter::view() const {
  return parameter_view(node_.green(), range().start, Source::of(node_));
}

std::vector<Parameter> ParameterList::parameters() const {
  return children_as<Parameter>(node_);
}

std::vector<ParameterView> ParameterList::views() const {
  std::vector<ParameterView> out;
  collect_parameters(node_.green(), range().start, Source::of(node_), out);
  return out;
}

std::optional<GuardView> Guard::view() const {
  return guard_view(node_.green(), range().start);
}

std::vector<DependencyView> Dependency::entries(uint32_t clause_index) const {
  std::vector<DependencyView> out;
  dependency_entries(node_.green(), range().start, clause_index, out);
  return out;
}

std::string Dependency::clause_text() const {
  return quib::clause_text(node_.green(), range().start, Source::of(node_));
}

std::optional<ShellOverrideView> ShellOverride::view() const {
  return shell_view(node_.green(), range().start);
}

// ---- TaskHeader ----

std::optional<TaskName> TaskHeader::task_name() const {
  if (auto child = first_child_of(node_, K::TaskName)) return TaskName::cast(*child);
  return std::nullopt;
}

std::optional<ParameterList> TaskHeader::parameter_list() const {
  if (auto child = first_child_of(node_, K::ParameterList)) return ParameterList::cast(*child);
  return std::nullopt;
}

std::optional<ShellOverride> TaskHeader::shell_override() const {
  if (auto child = first_child_of(node_, K::ShellOverride)) return ShellOverride::cast(*child);
  return std::nullopt;
}

std::vector<Guard> TaskHeader::guards() const {
  return children_as<Guard>(node_);
}

std::vector<Dependency> TaskHeader::dependencies() const {
  return children_as<Dependency>(node_);
}

std::optional<TextRange> TaskHeader::body_marker_range() const {
  std::optional<TextRange> range;
  for_each_child(node_.green(), node_.text_range().start,
                 [&](const GreenElement& child, uint32_t at) {
                   if (!range && child.is_node() && child.kind() == K::BodyMarker) {
                     range = TextRange(at, at + child.text_len());
                   }
                 });
  return range;
}

namespace {

// The view of the header `header` at `offset`, whose texts come from `source`.
// `view` emptied like a new one, keeping the storage of its lists.
void clear_keeping_storage(TaskHeaderView& view) {
  view.name.reset();
  view.name_range.reset();
  view.parameters.clear();
  view.guards.clear();
  view.dependencies.clear();
  view.dependency_summary.reset();
  view.shell.reset();
  view.body_marker_range.reset();
}

// Fills `view`, emptied first, with the header `header` at `offset`, whose texts come from
// `source`; the dependency summary only `with_summary`.
void read_header(const GreenNode& header, uint32_t offset, const Source& source,
                 TaskHeaderView& view, bool with_summary) {
  clear_keeping_storage(view);
  bool seen_parameters = false;
  bool seen_shell = false;
  uint32_t clause_index = 0;
  for_each_child(header, offset, [&](const GreenElement& child, uint32_t at) {
    if (child.is_token()) return;
    const GreenNode& node = *child.as_node();
    switch (node.kind()) {
      case K::TaskName:
        if (!view.name) {
          if (auto token = task_name_token(node, at)) {
            view.name = std::string(token->text);
            view.name_range = token->range;
          }
        }
        break;
      case K::ParameterList:
        if (!seen_parameters) {
          collect_parameters(node, at, source, view.parameters);
        }
        seen_parameters = true;
        break;
      case K::Guard:
        if (auto guard = guard_view(node, at)) view.guards.push_back(std::move(*guard));
        break;
      case K::Dependency: {
        dependency_entries(node, at, clause_index++, view.dependencies);
        if (!with_summary) break;
        std::string text = clause_text(node, at, source);
        if (view.dependency_summary) {
          *view.dependency_summary += " & ";
          *view.dependency_summary += text;
        } else {
          view.dependency_summary = std::move(text);
        }
        break;
      }
      case K::ShellOverride:
        if (!seen_shell) view.shell = shell_view(node, at);
        seen_shell = true;
        break;
      case K::BodyMarker:
        if (!view.body_marker_range) view.body_marker_range = TextRange(at, at + node.text_len());
        break;
      default:
        break;
    }
  });
}

// The first child node of `kind` and its offset, without a red handle. Stops there: a task's
// body tokens are children of the task too.
std::optional<std::pair<const GreenNode*, uint32_t>> first_child_node(const GreenNode& node,
                                                                      uint32_t offset, K kind) {
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const GreenElement& child = node.child(i);
    if (child.is_node() && child.kind() == kind) return std::pair(child.as_node(), offset);
    offset += child.text_len();
  }
  return std::nullopt;
}

}  // namespace

TaskHeaderView TaskHeader::view() const {
  TaskHeaderView view;
  read_header(node_.green(), range().start, Source::of(node_), view, /*with_summary=*/true);
  return view;
}

// ---- Task ----

std::optional<TaskHeader> Task::header() const {
  if (auto child = first_child_of(node_, K::TaskHeader)) return TaskHeader::cast(*child);
  return std::nullopt;
}

std::optional<std::string> Task::name() const {
  if (auto header = this->header()) {
    if (auto name = header->task_name()) return name->text();
  }
  return std::nullopt;
}

std::optional<TextRange> Task::name_range() const {
  if (auto header = this->header()) {
    if (auto name = header->task_name()) return name->token_range();
  }
  return std::nullopt;
}

namespace {

// The header view of the Task node `task`, read from its green header, so no handle is made
// for it.
void read_task_header(const SyntaxNode& task, TaskHeaderView& view, bool with_summary) {
  const auto header = first_child_node(task.green(), task.text_range().start, K::TaskHeader);
  if (!header) {
    clear_keeping_storage(view);
    return;
  }
  read_header(*header->first, header->second, Source::of(task), view, with_summary);
}

}  // namespace

TaskHeaderView Task::header_view() const {
  TaskHeaderView view;
  read_task_header(node_, view, /*with_summary=*/true);
  return view;
}

void Task::header_view_into(TaskHeaderView& view) const {
  read_task_header(node_, view, /*with_summary=*/false);
}

std::vector<BodyLine> Task::body_lines() const {
  std::vector<BodyLine> lines;
  collect_body_lines(lines, /*copy_single_lines=*/true);
  return lines;
}

void Task::body_lines_into(std::vector<BodyLine>& lines) const {
  collect_body_lines(lines, /*copy_single_lines=*/false);
}

void Task::collect_body_lines(std::vector<BodyLine>& lines, bool copy_single_lines) const {
  // The body is every token after the header; without a header, every token after the task's
  // first Newline token.
  const GreenNode& green = node_.green();
  const uint32_t start = range().start;
  std::optional<uint32_t> body_start;
  if (const auto header = first_child_node(green, start, K::TaskHeader)) {
    body_start = header->second + header->first->text_len();
  } else {
    for_each_token(green, start, [&](const GreenToken& token, uint32_t at) {
      if (!body_start && token.kind() == K::Newline) body_start = at + token.text_len();
    });
  }
  if (!body_start) {
    lines.clear();
    return;
  }
  std::string scratch;
  const std::string_view body =
      range_text(green, start, TextRange(*body_start, range().end), Source::of(node_), scratch);
  split_body(body, *body_start, copy_single_lines, lines);
}

}  // namespace quib
