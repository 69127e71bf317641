// Per-item canonical layout. Every rule here changes only blanks between tokens (and the
// blanks inside "{{ }}" references), never a token's text, so a laid-out item reads back as
// the same item.
#include "syntax/format_item.h"

#include <optional>
#include <vector>

#include "syntax/ast_view.h"
#include "syntax/cursor.h"
#include "syntax/green_walk.h"
#include "syntax/text_util.h"

namespace quib {
namespace {

using K = SyntaxKind;

constexpr std::string_view kIndent = "    ";

// Blanks and line breaks as the lexer knows them. Anything else (a no-break space, a form
// feed) is a token of its own and must survive trimming.
bool is_layout_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim_layout(std::string_view text) {
  while (!text.empty() && is_layout_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_layout_space(text.back())) text.remove_suffix(1);
  return text;
}

bool is_blank_kind(K kind) {
  return kind == K::Whitespace || kind == K::Indent || kind == K::Newline;
}

std::string_view slice(std::string_view text, TextRange range) {
  return text.substr(range.start, range.len());
}

// ---- green walks ----
//
// The layout reads the green tree the parse already holds: a child's document offset is its
// parent's plus the lengths of the children before it, so no red handle is made.

// The first child node of `kind`.
std::optional<GreenAt> first_child_of(const GreenAt& parent, K kind) {
  std::optional<GreenAt> found;
  for_each_child(*parent.node, parent.offset, [&](const GreenElement& child, uint32_t at) {
    if (!found && child.is_node() && child.kind() == kind) found = GreenAt{child.as_node(), at};
  });
  return found;
}

// The first direct token child of `kind`, or the first one of any kind when `kind` is absent.
const GreenToken* first_token_child(const GreenNode& node, std::optional<K> kind) {
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const GreenToken* token = node.child(i).as_token();
    if (token && (!kind || token->kind() == *kind)) return token;
  }
  return nullptr;
}

// Writes the texts of a run of tokens on one line: leading and trailing blanks dropped, a line
// break together with the blanks around it written as one space, other blanks kept as written.
// `lead` goes before the first written token, so nothing is written for a run of blanks.
// Tokens are never empty, so "something written" is "a token written".
class OneLineWriter {
 public:
  OneLineWriter(std::string& out, std::string_view lead) : out_(out), lead_(lead) {}

  void add(K kind, std::string_view token_text) {
    if (kind == K::Newline) {
      line_break_ = true;
    } else if (is_blank_kind(kind)) {
      if (!line_break_) blanks_ = token_text;
    } else {
      out_ += wrote_ ? (line_break_ ? std::string_view(" ") : blanks_) : lead_;
      out_ += token_text;
      wrote_ = true;
      blanks_ = {};
      line_break_ = false;
    }
  }

 private:
  std::string& out_;
  std::string_view lead_;
  std::string_view blanks_;
  bool line_break_ = false;
  bool wrote_ = false;
};

// ---- directives ----

std::variant<LayoutItemKind, ItemError> format_directive(const GreenAt& directive,
                                                         std::string_view text, std::string& out) {
  // The name is the second direct token that is not a blank (the first is the `!`).
  const GreenToken* name = nullptr;
  uint32_t name_start = 0;
  bool seen_bang = false;
  for_each_child(*directive.node, directive.offset, [&](const GreenElement& child, uint32_t at) {
    const GreenToken* token = child.as_token();
    if (name || !token || is_blank_kind(token->kind())) return;
    if (seen_bang) {
      name = token;
      name_start = at;
    }
    seen_bang = true;
  });
  if (!name) return ItemError{kInvalidDirective};
  const TextRange after_name(name_start + name->text_len(), directive.range().end);

  if (name->text() == DirectiveKindMembers::kWords[DirectiveKindMembers::Var]) {
    // Split at the first `=` token: an `=` inside a string literal is the value's own text.
    std::optional<TextRange> equals;
    for_each_token(*directive.node, directive.offset, [&](const GreenToken& token, uint32_t at) {
      if (!equals && token.kind() == K::Equals && at >= after_name.start) {
        equals = TextRange(at, at + token.text_len());
      }
    });
    if (!equals) return ItemError{kInvalidVariableDirective};
    const std::string_view left = trim_layout(slice(text, {after_name.start, equals->start}));
    const std::string_view right = trim_layout(slice(text, {equals->end, after_name.end}));
    out += "!var";
    if (!left.empty()) (out += ' ') += left;
    out += " =";
    if (!right.empty()) (out += ' ') += right;
    return LayoutItemKind::Directive;
  }

  (out += '!') += name->text();
  const std::string_view rest = trim_layout(slice(text, after_name));
  if (!rest.empty()) (out += ' ') += rest;
  return LayoutItemKind::Directive;
}

// ---- metadata and group lines ----

bool is_metadata_key_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

// Reads the key exactly as the typed view does: the white-space trimmed line starts with `[`,
// and the text up to the first `]` is a non-empty key of letters, digits, `-` and `_`.
std::variant<LayoutItemKind, ItemError> format_metadata(const GreenAt& metadata,
                                                        std::string_view text, std::string& out) {
  const std::string_view source = slice(text, metadata.range());
  const std::string_view line = trim_unicode_whitespace(source);
  const size_t close = line.starts_with('[') ? line.find(']') : std::string_view::npos;
  if (close == std::string_view::npos || close == 1) return ItemError{kInvalidMetadataField};
  const std::string_view key = line.substr(1, close - 1);
  for (char c : key) {
    if (!is_metadata_key_char(c)) return ItemError{kInvalidMetadataField};
  }
  // The value is cut from the source with blanks-only trimming: a leading no-break space is a
  // token, and dropping it could leave a comment or a lone `{` first, which no longer reads as
  // metadata. Trimmed that way, the view's (white-space trimmed) value is unchanged.
  const size_t key_end = static_cast<size_t>(line.data() - source.data()) + close + 1;
  const std::string_view value = trim_layout(source.substr(key_end));
  ((out += '[') += key) += ']';
  if (!value.empty()) {
    out += ' ';
    append_normalized_placeholders(out, value);
  }
  return LayoutItemKind::Metadata;
}

std::variant<LayoutItemKind, ItemError> format_group_line(const GreenAt& line,
                                                          std::string_view text, std::string& out) {
  if (trim_unicode_whitespace(slice(text, line.range())) == "}") {
    out += '}';
    return LayoutItemKind::GroupClose;
  }
  const GreenToken* name = first_token_child(*line.node, K::Word);
  if (!name) return ItemError{kInvalidGroup};
  ((out += "group ") += name->text()) += " {";
  return LayoutItemKind::GroupOpen;
}

// ---- task headers ----

// A token that runs to the end of its line, or ends where it does only because of what follows
// it on its line: anything the layout writes after it on that line could become part of it. A
// string whose closing quote follows a backslash is closed there only because no other quote
// follows on its line.
bool runs_to_line_end(const GreenToken& token) {
  const std::string_view text = token.text();
  return token.kind() == K::Comment || (token.kind() == K::Unknown && text.starts_with('"')) ||
         (token.kind() == K::String && text.ends_with("\\\""));
}

// Whether the node's own tokens leave an `open` without its `close`, counted as the parser
// counts (a `close` with nothing open is passed over).
bool leaves_open(const GreenNode& node, SyntaxKind open, SyntaxKind close) {
  uint32_t depth = 0;
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const SyntaxKind kind = node.child(i).kind();
    if (kind == open) ++depth;
    if (kind == close && depth > 0) --depth;
  }
  return depth > 0;
}

// True when the parameter list holds nothing but its parentheses, commas and parameters, and
// its last token is the `)` that closes it. A parameter with an unclosed `[` runs to the end of
// the header and takes the closing `)` (and the clauses after it) into itself; laid out as a
// parameter, that text would gain a second `)`. The layout writes the parameters alone, so
// parentheses nested in the list go, which changes no parameter unless one of them ended a
// parameter with an unclosed `[`: without that `)` the parameter would run on over the commas
// after it and take the next parameters in.
bool parameter_list_is_layable(const GreenNode& list) {
  SyntaxKind last = K::LParen;
  bool bracket_open = false;
  bool closed_with_bracket_open = false;
  for (uint32_t i = 0; i < list.child_count(); ++i) {
    const GreenElement& child = list.child(i);
    const SyntaxKind kind = child.kind();
    if (is_blank_kind(kind)) continue;
    if (kind != K::Parameter && kind != K::LParen && kind != K::RParen && kind != K::Comma) {
      return false;
    }
    // Anything after such a `)` shows that it closed a nested `(`, not the list.
    if (closed_with_bracket_open) return false;
    closed_with_bracket_open = kind == K::RParen && bracket_open;
    bracket_open = kind == K::Parameter && leaves_open(*child.as_node(), K::LBracket, K::RBracket);
    last = kind;
  }
  return last == K::RParen;
}

bool has_token(const GreenNode& node, bool (*wanted)(const GreenToken&)) {
  for (uint32_t i = 0; i < node.child_count(); ++i) {
    const GreenElement& child = node.child(i);
    if (const GreenToken* token = child.as_token()) {
      if (wanted(*token)) return true;
    } else if (has_token(*child.as_node(), wanted)) {
      return true;
    }
  }
  return false;
}

bool is_newline(const GreenToken& token) {
  return token.kind() == K::Newline;
}

// True when the clause layout can carry every token of the header: no comment or unterminated
// string (the layout joins lines and puts more text after each clause, which such a token would
// swallow), no token outside the name, one parameter list and the clauses, a parameter list the
// layout can rebuild, and no line break inside a clause (each clause is written on one line).
bool header_is_layable(const GreenNode& header) {
  if (has_token(header, runs_to_line_end)) return false;
  bool seen_parameter_list = false;
  for (uint32_t i = 0; i < header.child_count(); ++i) {
    const GreenElement& child = header.child(i);
    if (child.is_token()) {
      if (!is_blank_kind(child.kind())) return false;
      continue;
    }
    const GreenNode& node = *child.as_node();
    switch (node.kind()) {
      case K::TaskName:
      case K::BodyMarker:
        break;
      case K::ParameterList:
        if (seen_parameter_list) return false;
        seen_parameter_list = true;
        if (!parameter_list_is_layable(node)) return false;
        break;
      case K::Guard:
      case K::Dependency:
      case K::ShellOverride:
        if (has_token(node, is_newline)) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

// "name = value" around the parameter's first `=` token, else the parameter on one line.
void format_parameter(const GreenNode& parameter, std::string& out) {
  OneLineWriter name(out, "");
  std::optional<OneLineWriter> value;
  for_each_token(parameter, 0, [&](const GreenToken& token, uint32_t) {
    if (value) {
      value->add(token.kind(), token.text());
    } else if (token.kind() == K::Equals) {
      out += " =";
      value.emplace(out, " ");
    } else {
      name.add(token.kind(), token.text());
    }
  });
}

void format_guard(const GreenAt& guard, std::string_view text, std::string& out) {
  std::string_view expr = trim_layout(slice(text, guard.range()));
  while (expr.starts_with('?')) expr.remove_prefix(1);
  out += "? ";
  append_compact_expression(out, expr);
}

void format_dependency(const GreenAt& dependency, std::string_view text, std::string& out) {
  std::string_view clause = trim_layout(slice(text, dependency.range()));
  if (clause.starts_with('&')) clause.remove_prefix(1);
  clause = trim_layout(clause);
  if (!clause.starts_with('(') || !clause.ends_with(')')) {
    out += "& ";
    append_compact_expression(out, clause);
    return;
  }
  // A parallel list: split at the commas outside nested parentheses (commas inside string
  // literals are inside String tokens).
  const std::string_view inner = clause.substr(1, clause.size() - 2);
  out += "& (";
  bool first = true;
  const auto add_part = [&](std::string_view part) {
    const size_t mark = out.size();
    if (!first) out += ", ";
    const size_t entry_start = out.size();
    append_compact_expression(out, part);
    if (out.size() == entry_start) {
      out.resize(mark);
      return;
    }
    first = false;
  };
  int depth = 0;
  size_t part_start = 0;
  for (const Token& token : tokenize(inner)) {
    if (token.kind == K::LParen) ++depth;
    if (token.kind == K::RParen) --depth;
    if (token.kind == K::Comma && depth == 0) {
      add_part(inner.substr(part_start, token.start - part_start));
      part_start = token.range().end;
    }
  }
  add_part(inner.substr(part_start));
  out += ')';
}

// The clause with its blanks removed ("shell = pwsh" becomes "shell=pwsh"), unless removing
// them changes the tokens: "shell ~= pwsh" (a required shell written oddly) would read as
// "shell~=" (a preferred one), and "ba sh" would become one word. Then the clause keeps its
// trimmed source text.
void format_shell_override(const GreenAt& clause, std::string_view text, std::string& out) {
  std::vector<const GreenToken*> written;
  const size_t packed_start = out.size();
  for_each_token(*clause.node, clause.offset, [&](const GreenToken& token, uint32_t) {
    if (is_blank_kind(token.kind())) return;
    written.push_back(&token);
    out += token.text();
  });
  const std::vector<Token> reread = tokenize(std::string_view(out).substr(packed_start));
  bool same = reread.size() == written.size() + 1;  // + Eof
  for (size_t i = 0; same && i < written.size(); ++i) {
    same = reread[i].kind == written[i]->kind() && reread[i].text == written[i]->text();
  }
  if (same) return;
  out.resize(packed_start);
  out += trim_layout(slice(text, clause.range()));
}

// ---- task bodies ----

// `normalize_placeholders` on each part of a source line between lone carriage returns. The
// line stays whole here (the return belongs to a string token), but the model reads the parts
// as separate commands, so a reference must not reach across one.
void append_command_placeholders(std::string& out, std::string_view line) {
  for (size_t cr = line.find('\r'); cr != std::string_view::npos; cr = line.find('\r')) {
    append_normalized_placeholders(out, line.substr(0, cr));
    out += '\r';
    line.remove_prefix(cr + 1);
  }
  append_normalized_placeholders(out, line);
}

// One command line, without its leading blanks, in canonical form. A block line (a `|` then a
// blank or the line end) runs the text after the `|` and its one blank, so only that one blank
// is replaced; deeper indentation inside the block is part of the command. Any other line,
// '|grep x' included, is an ordinary command.
void format_command_line(std::string_view line, std::string& out) {
  out += kIndent;
  const bool block =
      line.starts_with('|') && (line.size() == 1 || line[1] == ' ' || line[1] == '\t');
  if (!block) {
    append_command_placeholders(out, line);
    return;
  }
  std::string_view rest = line.substr(1);
  if (!rest.empty()) rest.remove_prefix(1);
  if (rest.empty()) {
    out += '|';
    return;
  }
  out += "| ";
  append_command_placeholders(out, rest);
}

// Writes the command lines of a body indented by four spaces, without blank lines at either end
// and with each run of blank lines written as one empty line; trailing blanks of a command
// stay. `opening` goes before the first command, so an empty body writes nothing.
class BodyWriter {
 public:
  BodyWriter(std::string& out, std::string_view opening) : out_(out), opening_(opening) {}

  // One source line, without its line break. Carriage returns at its end (inside a string or
  // comment token, or a lone carriage return would have ended the line) are line breaks too:
  // the last pairs with the line feed, each other one ends an empty line. Splitting there moves
  // no text to a line of its own, and a return kept inside the command would be taken for a
  // CR LF line end once the command is indented in a group, one return less each time.
  void line(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    size_t returns = 0;
    for (; !line.empty() && line.back() == '\r'; ++returns) line.remove_suffix(1);
    if (!line.empty()) write(line);
    if (line.empty() || returns >= 2) pending_empty_ = wrote_;
  }

 private:
  void write(std::string_view line) {
    out_ +=
        wrote_ ? (pending_empty_ ? std::string_view("\n\n") : std::string_view("\n")) : opening_;
    pending_empty_ = false;
    wrote_ = true;
    format_command_line(line, out_);
  }

  std::string& out_;
  std::string_view opening_;
  bool pending_empty_ = false;
  bool wrote_ = false;
};

// Hands the source lines of a task from `start` (the end of its header) to its end, without
// their line breaks, to `body`. Lines end at Newline tokens only: a lone carriage return inside
// a comment or a string is part of that token, and splitting there would move the rest of the
// token to a line of its own, where it could start a new item.
class SourceLines {
 public:
  SourceLines(std::string_view text, uint32_t start, BodyWriter& body)
      : text_(text), start_(start), body_(body) {}

  void walk(const GreenNode& node, uint32_t offset) {
    for_each_child(node, offset, [&](const GreenElement& child, uint32_t at) {
      // Tokens are never empty, so a node that ends by `start_` has no token at or after it.
      if (at + child.text_len() <= start_) return;
      if (const GreenNode* inner = child.as_node()) {
        walk(*inner, at);
      } else if (child.kind() == K::Newline && at >= start_) {
        body_.line(slice(text_, {start_, at}));
        start_ = at + child.text_len();
      }
    });
  }

  void finish(uint32_t end) { body_.line(slice(text_, {start_, end})); }

 private:
  std::string_view text_;
  uint32_t start_;
  BodyWriter& body_;
};

std::variant<LayoutItemKind, ItemError> format_task(const GreenAt& task, std::string_view text,
                                                    std::string& out) {
  const std::optional<GreenAt> header = first_child_of(task, K::TaskHeader);
  if (!header) return ItemError{kTaskWithoutHeader};
  const std::optional<GreenAt> name_node = first_child_of(*header, K::TaskName);
  const GreenToken* name = name_node ? first_token_child(*name_node->node, std::nullopt) : nullptr;
  if (!name) return ItemError{kTaskHeaderWithoutName};
  if (!header_is_layable(*header->node)) return ItemError{kUnlayableTaskHeader};

  (out += name->text()) += '(';
  if (const std::optional<GreenAt> list = first_child_of(*header, K::ParameterList)) {
    bool first = true;
    for_each_child(*list->node, list->offset, [&](const GreenElement& child, uint32_t) {
      if (child.is_token() || child.kind() != K::Parameter) return;
      if (!first) out += ", ";
      format_parameter(*child.as_node(), out);
      first = false;
    });
  }
  out += ')';

  // Guards, then dependencies, then shell clauses. The parser already accepts them only in
  // that order, and every shell clause is kept: the first one decides, the others stay text.
  // Three or more clauses go on lines of their own, and so do two or more when one before the
  // last leaves a `(` open.
  // Clauses are counted in the order they are written, which is the layout's own.
  const GreenNode& header_node = *header->node;
  constexpr K kClauseOrder[] = {K::Guard, K::Dependency, K::ShellOverride};
  uint32_t clause_count = 0;
  bool open_before_last = false;
  bool last_left_open = false;
  for (const K kind : kClauseOrder) {
    for (uint32_t i = 0; i < header_node.child_count(); ++i) {
      const GreenElement& child = header_node.child(i);
      if (!child.is_node() || child.kind() != kind) continue;
      ++clause_count;
      open_before_last = open_before_last || last_left_open;
      // Whether the clause ends with a `(` left open. Only a shell clause can (it accepts every
      // token, and its line break ends it); written on one line with the clauses after it, it
      // would take them into itself, since a clause start inside parentheses does not end it.
      last_left_open = leaves_open(*child.as_node(), K::LParen, K::RParen);
    }
  }
  const bool broken = clause_count >= 3 || open_before_last;
  const std::string_view clause_lead = broken ? "\n    " : " ";
  for (const K kind : kClauseOrder) {
    for_each_child(header_node, header->offset, [&](const GreenElement& child, uint32_t at) {
      if (child.is_token() || child.kind() != kind) return;
      out += clause_lead;
      const GreenAt clause{child.as_node(), at};
      if (kind == K::Guard) {
        format_guard(clause, text, out);
      } else if (kind == K::Dependency) {
        format_dependency(clause, text, out);
      } else {
        format_shell_override(clause, text, out);
      }
    });
  }

  BodyWriter body(out, broken ? "\n:\n" : ":\n");
  SourceLines lines(text, header->range().end, body);
  lines.walk(*task.node, task.offset);
  lines.finish(task.range().end);
  return LayoutItemKind::Task;
}

}  // namespace

std::variant<LayoutItemKind, ItemError> append_item_layout(const GreenNode& node, uint32_t offset,
                                                           std::string_view text,
                                                           std::string& out) {
  const GreenAt item{&node, offset};
  QUIB_ASSERT(item.range().end <= text.size(), "item node must lie inside the document text");
  switch (node.kind()) {
    case K::Directive:
      return format_directive(item, text, out);
    case K::Metadata:
      return format_metadata(item, text, out);
    case K::GroupLine:
      return format_group_line(item, text, out);
    case K::Task:
      return format_task(item, text, out);
    case K::ErrorItem:
      return ItemError{kInvalidSyntax};
    default:
      return ItemError{kNotADeclaration};
  }
}

std::variant<ItemLayout, ItemError> format_item(const SyntaxNode& node, std::string_view text) {
  std::string out;
  const auto kind = append_item_layout(node.green(), node.text_range().start, text, out);
  if (const ItemError* error = std::get_if<ItemError>(&kind)) return *error;
  return ItemLayout{std::get<LayoutItemKind>(kind), std::move(out)};
}

std::string indent_block(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  append_indented(out, text);
  return out;
}

void append_indented(std::string& out, std::string_view text) {
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    if (!line.empty()) (out += kIndent) += line;
    if (end == std::string_view::npos) break;
    out += '\n';
    start = end + 1;
  }
}

std::string normalize_placeholders(std::string_view text) {
  std::string out;
  append_normalized_placeholders(out, text);
  return out;
}

void append_normalized_placeholders(std::string& out, std::string_view text) {
  constexpr std::string_view kOpen = "{{";
  constexpr std::string_view kClose = "}}";
  size_t copied = 0;  // text before this offset is already in `out`
  size_t pos = 0;     // where the search for the next opening resumes
  while (true) {
    const size_t open = text.find(kOpen, pos);
    if (open == std::string_view::npos) break;
    pos = open + kOpen.size();
    size_t backslashes = 0;
    while (backslashes < open && text[open - backslashes - 1] == '\\') ++backslashes;
    if (backslashes % 2 == 1) continue;
    const size_t close = text.find(kClose, pos);
    if (close == std::string_view::npos) break;
    const std::string_view inner = text.substr(pos, close - pos);
    const std::string_view name = trim_unicode_whitespace(inner);
    out.append(text.substr(copied, open - copied));
    out += kOpen;
    out += name.ends_with('}') ? inner : name;
    out += kClose;
    pos = close + kClose.size();
    copied = pos;
  }
  out.append(text.substr(copied));
}

std::string compact_expression(std::string_view text) {
  std::string out;
  append_compact_expression(out, text);
  return out;
}

void append_compact_expression(std::string& out, std::string_view text) {
  const size_t start = out.size();
  bool space_pending = false;
  bool after_open_paren = false;
  for (const Token& token : tokenize(text)) {
    switch (token.kind) {
      case K::Whitespace:
      case K::Indent:
      case K::Newline:
        space_pending = true;
        break;
      case K::Eof:
        break;
      case K::LParen:
      case K::RParen:
        out += token.text.view();
        space_pending = false;
        after_open_paren = token.kind == K::LParen;
        break;
      case K::Comma:
        out += ',';
        space_pending = true;
        after_open_paren = false;
        break;
      default:
        if (space_pending && out.size() > start && !after_open_paren) out += ' ';
        out += token.text.view();
        space_pending = false;
        after_open_paren = false;
    }
  }
}

}  // namespace quib
