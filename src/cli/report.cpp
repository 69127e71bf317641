// Diagnostic printing: the compiler-style text form and the JSON form of `quib check`.
// Byte offsets become 1-based character columns here and UTF-16 columns via lsp/position.
#include "cli/report.h"

#include <algorithm>
#include <boost/json/value_from.hpp>
#include <cstdint>
#include <string>

#include "lsp/position.h"
#include "lsp/protocol_types.h"

namespace quib::cli {
namespace {

namespace json = boost::json;

// Terminal escapes; empty strings when colour is off, so the layout code has one path.
struct Style {
  const char* bold = "";
  const char* error = "";
  const char* gutter = "";
  const char* caret = "";
  const char* reset = "";
};

Style style_for(bool colour) {
  if (!colour) {
    return {};
  }
  return {"\x1b[1m", "\x1b[1;31m", "\x1b[1;34m", "\x1b[1;31m", "\x1b[0m"};
}

bool is_continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Characters (code points) in `bytes`; a cut-short sequence counts as one character.
uint32_t count_characters(std::string_view bytes) {
  return static_cast<uint32_t>(
      std::count_if(bytes.begin(), bytes.end(), [](char byte) { return !is_continuation(byte); }));
}

// Blanks as wide as `bytes` when printed above a caret line: one per character, tabs kept as
// tabs so the carets line up with a tab-indented source line whatever the tab width.
std::string blank_like(std::string_view bytes) {
  std::string out;
  for (char byte : bytes) {
    if (byte == '\t') {
      out += '\t';
    } else if (!is_continuation(byte)) {
      out += ' ';
    }
  }
  return out;
}

// One diagnostic's place in the text: its first line (without the line break, a CR before
// the LF dropped) and where the range starts and ends within that line.
struct Excerpt {
  uint32_t line_number;  // 1-based
  uint32_t column;       // 1-based, in characters
  std::string_view line;
  std::string_view before;  // the line's bytes before the range
  uint32_t caret_count;     // at least 1
};

Excerpt excerpt_of(const lsp::LineIndex& lines, std::string_view text, TextRange range) {
  const uint32_t size = static_cast<uint32_t>(text.size());
  const uint32_t start = std::min(range.start, size);
  const uint32_t end = std::clamp(range.end, start, size);
  const uint32_t line = lines.position_of(start).line;
  const uint32_t line_start = lines.offset_of({line, 0});
  const size_t newline = text.find('\n', line_start);
  uint32_t line_end = newline == std::string_view::npos ? size : static_cast<uint32_t>(newline);
  if (line_end > line_start && text[line_end - 1] == '\r') {
    --line_end;
  }
  const uint32_t range_end_on_line = std::min(end, line_end);
  const std::string_view before = text.substr(line_start, start - line_start);
  const uint32_t covered = range_end_on_line > start
                               ? count_characters(text.substr(start, range_end_on_line - start))
                               : 0;
  return Excerpt{line + 1, count_characters(before) + 1,
                 text.substr(line_start, line_end - line_start), before, std::max(covered, 1u)};
}

void write_one(std::ostream& out, std::string_view path, std::string_view text,
               const lsp::LineIndex& lines, const Diagnostic& diagnostic, const Style& style) {
  const Excerpt at = excerpt_of(lines, text, diagnostic.range);
  const std::string_view message = diagnostic.message;
  const size_t first_break = message.find('\n');

  out << style.bold << path << ':' << at.line_number << ':' << at.column << ": " << style.reset
      << style.error << "error[" << diagnostic.code << "]" << style.reset << style.bold << ": "
      << message.substr(0, first_break) << style.reset << '\n';
  // Further message lines (the advice starting "help: ") go below, indented.
  for (size_t from = first_break; from != std::string_view::npos;) {
    const size_t next = message.find('\n', from + 1);
    const std::string_view rest = message.substr(from + 1, next - from - 1);
    if (!rest.empty()) {
      out << "  " << rest << '\n';
    }
    from = next;
  }

  const std::string number = std::to_string(at.line_number);
  const std::string gutter(number.size(), ' ');
  out << "  " << style.gutter << number << " |" << style.reset << ' ' << at.line << '\n';
  out << "  " << style.gutter << gutter << " |" << style.reset << ' ' << blank_like(at.before)
      << style.caret << std::string(at.caret_count, '^') << style.reset << '\n';
}

}  // namespace

std::vector<Diagnostic> in_source_order(std::vector<Diagnostic> diagnostics) {
  std::stable_sort(diagnostics.begin(), diagnostics.end(),
                   [](const Diagnostic& a, const Diagnostic& b) {
                     if (a.range.start != b.range.start) {
                       return a.range.start < b.range.start;
                     }
                     return a.range.end < b.range.end;
                   });
  return diagnostics;
}

void write_human(std::ostream& out, std::string_view path, std::string_view text,
                 const std::vector<Diagnostic>& diagnostics, bool colour) {
  const lsp::LineIndex lines(text);
  const Style style = style_for(colour);
  for (const Diagnostic& diagnostic : diagnostics) {
    write_one(out, path, text, lines, diagnostic, style);
  }
}

void append_json(json::array& out, std::string_view path, std::string_view text,
                 const std::vector<Diagnostic>& diagnostics) {
  const lsp::LineIndex lines(text);
  for (const Diagnostic& diagnostic : diagnostics) {
    out.push_back(json::object{
        {"path", path},
        {"range", json::value_from(lines.range_of(diagnostic.range))},
        {"severity", static_cast<int>(diagnostic.severity) + 1},  // the protocol's Error is 1
        {"code", diagnostic.code},
        {"message", diagnostic.message},
    });
  }
}

}  // namespace quib::cli
