// Per-item canonical layout. Every rule here changes only blanks between tokens (and the
// blanks inside "{{ }}" references), never a token's text, so a laid-out item reads back as
// the same item.
#include "syntax/format_item.h"

#include <vector>

#include "syntax/ast_view.h"
#include "syntax/cursor.h"
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

// The texts of tokens [first, last) on one line: leading and trailing blanks dropped, a line
// break together with the blanks around it written as one space, other blanks kept as written.
std::string tokens_on_one_line(const std::vector<SyntaxToken>& tokens, size_t first, size_t last) {
  std::string out;
  std::string_view blanks;
  bool line_break = false;
  for (size_t i = first; i < last; ++i) {
    const SyntaxToken& token = tokens[i];
    if (token.kind() == K::Newline) {
      line_break = true;
    } else if (is_blank_kind(token.kind())) {
      if (!line_break) blanks = token.text();
    } else {
      if (!out.empty()) out += line_break ? std::string_view(" ") : blanks;
      out += token.text();
      blanks = {};
      line_break = false;
    }
  }
  return out;
}

// ---- directives ----

std::variant<ItemLayout, ItemError> format_directive(const Directive& directive,
                                                     std::string_view text) {
  const std::optional<std::string> name = directive.name();
  const std::optional<TextRange> name_range = directive.name_range();
  if (!name || !name_range) return ItemError{kInvalidDirective};
  const TextRange node = directive.range();
  const TextRange after_name(name_range->end, node.end);

  if (directive.kind() == DirectiveKind::Var) {
    // Split at the first `=` token: an `=` inside a string literal is the value's own text.
    std::optional<TextRange> equals;
    for (const SyntaxToken& token : directive.syntax().tokens()) {
      if (token.kind() == K::Equals && token.text_range().start >= after_name.start) {
        equals = token.text_range();
        break;
      }
    }
    if (!equals) return ItemError{kInvalidVariableDirective};
    const std::string_view left = trim_layout(slice(text, {after_name.start, equals->start}));
    const std::string_view right = trim_layout(slice(text, {equals->end, after_name.end}));
    std::string out = "!var";
    if (!left.empty()) (out += ' ') += left;
    out += " =";
    if (!right.empty()) (out += ' ') += right;
    return ItemLayout{LayoutItemKind::Directive, std::move(out)};
  }

  std::string out = "!" + *name;
  const std::string_view rest = trim_layout(slice(text, after_name));
  if (!rest.empty()) (out += ' ') += rest;
  return ItemLayout{LayoutItemKind::Directive, std::move(out)};
}

// ---- metadata and group lines ----

std::variant<ItemLayout, ItemError> format_metadata(const Metadata& metadata,
                                                    std::string_view text) {
  const std::optional<std::string> key = metadata.key();
  const std::optional<TextRange> key_range = metadata.key_range();
  if (!key || !key_range) return ItemError{kInvalidMetadataField};
  // The value is cut from the source with blanks-only trimming: a leading no-break space is a
  // token, and dropping it could leave a comment or a lone `{` first, which no longer reads as
  // metadata. Trimmed that way, the view's (white-space trimmed) value is unchanged.
  const std::string_view value = trim_layout(slice(text, {key_range->end, metadata.range().end}));
  std::string out = "[" + *key + "]";
  if (!value.empty()) (out += ' ') += normalize_placeholders(value);
  return ItemLayout{LayoutItemKind::Metadata, std::move(out)};
}

std::variant<ItemLayout, ItemError> format_group_line(const GroupLine& line) {
  if (line.is_close()) return ItemLayout{LayoutItemKind::GroupClose, "}"};
  const std::optional<std::string> name = line.name();
  if (!name) return ItemError{kInvalidGroup};
  return ItemLayout{LayoutItemKind::GroupOpen, "group " + *name + " {"};
}

// ---- task headers ----

// A token that runs to the end of its line: anything the layout writes after it on that line
// would become part of it.
bool runs_to_line_end(const SyntaxToken& token) {
  return token.kind() == K::Comment ||
         (token.kind() == K::Unknown && token.text().starts_with('"'));
}

// True when the parameter list holds nothing but its parentheses, commas and parameters, and
// its last token is the `)` that closes it. A parameter with an unclosed `[` runs to the end of
// the header and takes the closing `)` (and the clauses after it) into itself; laid out as a
// parameter, that text would gain a second `)`.
bool parameter_list_is_layable(const SyntaxNode& list) {
  SyntaxKind last = K::LParen;
  for (const SyntaxElement& part : list.children_with_tokens()) {
    const SyntaxKind kind = part.kind();
    if (is_blank_kind(kind)) continue;
    if (kind != K::Parameter && kind != K::LParen && kind != K::RParen && kind != K::Comma) {
      return false;
    }
    last = kind;
  }
  return last == K::RParen;
}

// True when the clause layout can carry every token of the header: no comment or unterminated
// string (the layout joins lines and puts more text after each clause, which such a token would
// swallow), no token outside the name, one parameter list and the clauses, a parameter list the
// layout can rebuild, and no line break inside a clause (each clause is written on one line).
bool header_is_layable(const TaskHeader& header) {
  for (const SyntaxToken& token : header.syntax().tokens()) {
    if (runs_to_line_end(token)) return false;
  }
  bool seen_parameter_list = false;
  for (const SyntaxElement& child : header.syntax().children_with_tokens()) {
    if (const SyntaxToken* token = child.as_token()) {
      if (!is_blank_kind(token->kind())) return false;
      continue;
    }
    const SyntaxNode& node = *child.as_node();
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
        for (const SyntaxToken& token : node.tokens()) {
          if (token.kind() == K::Newline) return false;
        }
        break;
      default:
        return false;
    }
  }
  return true;
}

// "name = value" around the parameter's first `=` token, else the parameter on one line.
std::string format_parameter(const SyntaxNode& parameter) {
  const std::vector<SyntaxToken> tokens = parameter.tokens();
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind() != K::Equals) continue;
    std::string out = tokens_on_one_line(tokens, 0, i) + " =";
    const std::string right = tokens_on_one_line(tokens, i + 1, tokens.size());
    if (!right.empty()) (out += ' ') += right;
    return out;
  }
  return tokens_on_one_line(tokens, 0, tokens.size());
}

std::string format_guard(const SyntaxNode& guard, std::string_view text) {
  std::string_view expr = trim_layout(slice(text, guard.text_range()));
  while (expr.starts_with('?')) expr.remove_prefix(1);
  return "? " + compact_expression(expr);
}

std::string format_dependency(const SyntaxNode& dependency, std::string_view text) {
  std::string_view clause = trim_layout(slice(text, dependency.text_range()));
  if (clause.starts_with('&')) clause.remove_prefix(1);
  clause = trim_layout(clause);
  if (!clause.starts_with('(') || !clause.ends_with(')')) {
    return "& " + compact_expression(clause);
  }
  // A parallel list: split at the commas outside nested parentheses (commas inside string
  // literals are inside String tokens).
  const std::string_view inner = clause.substr(1, clause.size() - 2);
  std::string out = "& (";
  bool first = true;
  const auto add_part = [&](std::string_view part) {
    const std::string entry = compact_expression(part);
    if (entry.empty()) return;
    if (!first) out += ", ";
    out += entry;
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
  return out;
}

// The clause with its blanks removed ("shell ~= pwsh" would otherwise stay "shell ~= pwsh"),
// unless removing them changes the tokens: "shell ~= pwsh" (a required shell written oddly)
// would read as "shell~=" (a preferred one), and "ba sh" would become one word. Then the
// clause keeps its trimmed source text.
std::string format_shell_override(const SyntaxNode& clause, std::string_view text) {
  std::vector<SyntaxToken> written;
  std::string packed;
  for (const SyntaxToken& token : clause.tokens()) {
    if (is_blank_kind(token.kind())) continue;
    written.push_back(token);
    packed += token.text();
  }
  const std::vector<Token> reread = tokenize(packed);
  bool same = reread.size() == written.size() + 1;  // + Eof
  for (size_t i = 0; same && i < written.size(); ++i) {
    same = reread[i].kind == written[i].kind() && reread[i].text == written[i].text();
  }
  if (same) return packed;
  return std::string(trim_layout(slice(text, clause.text_range())));
}

// ---- task bodies ----

// The source lines of a task from `start` (the end of its header) to its end, without their
// line breaks. Lines end at Newline tokens only: a lone carriage return inside a comment or a
// string is part of that token, and splitting there would move the rest of the token to a line
// of its own, where it could start a new item.
std::vector<std::string_view> source_lines(const Task& task, uint32_t start,
                                           std::string_view text) {
  std::vector<std::string_view> lines;
  for (const SyntaxToken& token : task.syntax().tokens()) {
    if (token.kind() != K::Newline || token.text_range().start < start) continue;
    lines.push_back(slice(text, {start, token.text_range().start}));
    start = token.text_range().end;
  }
  lines.push_back(slice(text, {start, task.range().end}));
  return lines;
}

// `normalize_placeholders` on each part of a source line between lone carriage returns. The
// line stays whole here (the return belongs to a string token), but the model reads the parts
// as separate commands, so a reference must not reach across one.
std::string normalize_command_placeholders(std::string_view line) {
  std::string out;
  for (size_t cr = line.find('\r'); cr != std::string_view::npos; cr = line.find('\r')) {
    out += normalize_placeholders(line.substr(0, cr));
    out += '\r';
    line.remove_prefix(cr + 1);
  }
  return out + normalize_placeholders(line);
}

// One command line, without its leading blanks, in canonical form. A block line (a `|` then a
// blank or the line end) runs the text after the `|` and its one blank, so only that one blank
// is replaced; deeper indentation inside the block is part of the command. Any other line,
// '|grep x' included, is an ordinary command.
std::string format_command_line(std::string_view line) {
  const bool block =
      line.starts_with('|') && (line.size() == 1 || line[1] == ' ' || line[1] == '\t');
  if (!block) return std::string(kIndent) + normalize_command_placeholders(line);
  std::string_view rest = line.substr(1);
  if (!rest.empty()) rest.remove_prefix(1);
  if (rest.empty()) return std::string(kIndent) + "|";
  return std::string(kIndent) + "| " + normalize_command_placeholders(rest);
}

// The command lines indented by four spaces, without blank lines at either end and with each
// run of blank lines written as one empty line. Trailing blanks of a command stay.
std::string format_body(const std::vector<std::string_view>& lines) {
  std::string out;
  bool pending_empty = false;
  for (std::string_view line : lines) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty()) {
      pending_empty = !out.empty();
      continue;
    }
    if (!out.empty()) out += pending_empty ? "\n\n" : "\n";
    pending_empty = false;
    out += format_command_line(line);
  }
  return out;
}

std::variant<ItemLayout, ItemError> format_task(const Task& task, std::string_view text) {
  const std::optional<TaskHeader> header = task.header();
  if (!header) return ItemError{kTaskWithoutHeader};
  const std::optional<TaskName> name_node = header->task_name();
  const std::optional<std::string> name = name_node ? name_node->text() : std::nullopt;
  if (!name) return ItemError{kTaskHeaderWithoutName};
  if (!header_is_layable(*header)) return ItemError{kUnlayableTaskHeader};

  std::string head = *name + "(";
  if (const std::optional<ParameterList> list = header->parameter_list()) {
    bool first = true;
    for (const Parameter& parameter : list->parameters()) {
      if (!first) head += ", ";
      head += format_parameter(parameter.syntax());
      first = false;
    }
  }
  head += ')';

  // Guards, then dependencies, then shell clauses. The parser already accepts them only in
  // that order, and every shell clause is kept: the first one decides, the others stay text.
  std::vector<std::string> clauses;
  for (const Guard& guard : header->guards()) clauses.push_back(format_guard(guard.syntax(), text));
  for (const Dependency& dependency : header->dependencies()) {
    clauses.push_back(format_dependency(dependency.syntax(), text));
  }
  for (const SyntaxNode& child : header->syntax().children()) {
    if (child.kind() == K::ShellOverride) clauses.push_back(format_shell_override(child, text));
  }

  const std::string body = format_body(source_lines(task, header->range().end, text));

  std::string out = std::move(head);
  const bool broken = clauses.size() >= 3;
  for (const std::string& clause : clauses) {
    out += broken ? "\n    " : " ";
    out += clause;
  }
  if (!body.empty()) {
    out += broken ? "\n:\n" : ":\n";
    out += body;
  }
  return ItemLayout{LayoutItemKind::Task, std::move(out)};
}

}  // namespace

std::variant<ItemLayout, ItemError> format_item(const SyntaxNode& node, std::string_view text) {
  QUIB_ASSERT(node.text_range().end <= text.size(), "item node must lie inside the document text");
  if (const auto directive = Directive::cast(node)) return format_directive(*directive, text);
  if (const auto metadata = Metadata::cast(node)) return format_metadata(*metadata, text);
  if (const auto line = GroupLine::cast(node)) return format_group_line(*line);
  if (const auto task = Task::cast(node)) return format_task(*task, text);
  if (node.kind() == K::ErrorItem) return ItemError{kInvalidSyntax};
  return ItemError{kNotADeclaration};
}

std::string indent_block(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
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
  return out;
}

std::string normalize_placeholders(std::string_view text) {
  constexpr std::string_view kOpen = "{{";
  constexpr std::string_view kClose = "}}";
  std::string out;
  out.reserve(text.size());
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
  return out;
}

std::string compact_expression(std::string_view text) {
  std::string out;
  out.reserve(text.size());
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
        if (space_pending && !out.empty() && !after_open_paren) out += ' ';
        out += token.text.view();
        space_pending = false;
        after_open_paren = false;
    }
  }
  return out;
}

}  // namespace quib
