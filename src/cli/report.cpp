// Diagnostic printing: the compiler-style text form and the JSON form of `quib check`.
// Byte offsets become 1-based character columns here and UTF-16 columns via lsp/position.
#include "cli/report.h"

#include <algorithm>
#include <boost/json/serialize.hpp>
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

// A source line longer than this is shown as a window of about this many bytes around the
// range, marked where it is cut, so that a diagnostic on a generated or minified line prints a
// few lines rather than the whole line once more.
constexpr uint32_t kExcerptBytes = 160;
// How much of a long line the window shows before the range.
constexpr uint32_t kExcerptLeadBytes = 60;
constexpr std::string_view kCutMark = "...";

// One diagnostic's place in the text: its first line (without the line break, a CR before
// the LF dropped), or the window of it that is shown, and where the range starts and ends
// within that.
struct Excerpt {
  uint32_t line_number;     // 1-based
  uint32_t column;          // 1-based, in characters
  std::string_view shown;   // the line, or the window of a long line
  bool cut_before;          // the window starts after the line's start
  bool cut_after;           // the window ends before the line's end
  std::string_view before;  // the shown bytes before the range
  uint32_t caret_count;     // at least 1
};

// The character column of offsets on one line, counted on from the last offset asked when
// that lies before on the same line: diagnostics come in source order, so many on one long line
// cost one pass over it rather than one each.
class ColumnCounter {
 public:
  // 0-based characters before `offset` on the line starting at `line_start`.
  uint32_t characters_before(std::string_view text, uint32_t line_start, uint32_t offset) {
    if (line_start != line_start_ || offset < offset_) {
      line_start_ = line_start;
      offset_ = line_start;
      characters_ = 0;
    }
    characters_ += count_characters(text.substr(offset_, offset - offset_));
    offset_ = offset;
    return characters_;
  }

 private:
  uint32_t line_start_ = UINT32_MAX;
  uint32_t offset_ = 0;
  uint32_t characters_ = 0;
};

// `offset`, or the first byte of a character after it, but not past `limit`.
uint32_t forward_to_character(std::string_view text, uint32_t offset, uint32_t limit) {
  while (offset < limit && is_continuation(text[offset])) ++offset;
  return offset;
}
// `offset`, or the first byte of the character it lies in, but not below `floor`.
uint32_t back_to_character(std::string_view text, uint32_t offset, uint32_t floor) {
  while (offset > floor && offset < text.size() && is_continuation(text[offset])) --offset;
  return offset;
}

Excerpt excerpt_of(const lsp::LineIndex& lines, std::string_view text, TextRange range,
                   ColumnCounter& columns) {
  const uint32_t size = static_cast<uint32_t>(text.size());
  const uint32_t start = std::min(range.start, size);
  const uint32_t end = std::clamp(range.end, start, size);
  const uint32_t line = lines.position_of(start).line;
  const uint32_t line_start = lines.offset_of({line, 0});
  // A column past the line's end gives its LF, or the text's end on the last line.
  uint32_t line_end = lines.offset_of({line, UINT32_MAX});
  if (line_end > line_start && text[line_end - 1] == '\r') {
    --line_end;
  }
  const uint32_t column = columns.characters_before(text, line_start, start) + 1;
  uint32_t shown_start = line_start;
  uint32_t shown_end = line_end;
  if (line_end - line_start > kExcerptBytes) {
    const uint32_t lead_start = start - std::min(start - line_start, kExcerptLeadBytes);
    shown_start = forward_to_character(text, lead_start, start);
    shown_end = back_to_character(text, std::min(line_end, shown_start + kExcerptBytes),
                                  std::max(start, shown_start));
  }
  const uint32_t range_end_shown = std::min(end, shown_end);
  const uint32_t covered =
      range_end_shown > start ? count_characters(text.substr(start, range_end_shown - start)) : 0;
  return Excerpt{line + 1,
                 column,
                 text.substr(shown_start, shown_end - shown_start),
                 shown_start > line_start,
                 shown_end < line_end,
                 text.substr(shown_start, start - shown_start),
                 std::max(covered, 1u)};
}

void write_one(std::ostream& out, std::string_view path, std::string_view text,
               const lsp::LineIndex& lines, ColumnCounter& columns, const Diagnostic& diagnostic,
               const Style& style) {
  const Excerpt at = excerpt_of(lines, text, diagnostic.range, columns);
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
  const std::string_view cut_before = at.cut_before ? kCutMark : "";
  out << "  " << style.gutter << number << " |" << style.reset << ' ' << cut_before << at.shown
      << (at.cut_after ? kCutMark : "") << '\n';
  out << "  " << style.gutter << gutter << " |" << style.reset << ' '
      << std::string(cut_before.size(), ' ') << blank_like(at.before) << style.caret
      << std::string(at.caret_count, '^') << style.reset << '\n';
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
  ColumnCounter columns;
  for (const Diagnostic& diagnostic : diagnostics) {
    write_one(out, path, text, lines, columns, diagnostic, style);
  }
}

JsonReport::JsonReport(std::ostream& out) : out_(out) {
  out_ << '[';
}

void JsonReport::add(std::string_view path, std::string_view text,
                     const std::vector<Diagnostic>& diagnostics) {
  const lsp::LineIndex lines(text);
  for (const Diagnostic& diagnostic : diagnostics) {
    if (!empty_) out_ << ',';
    empty_ = false;
    out_ << json::serialize(json::object{
        {"path", path},
        {"range", json::value_from(lines.range_of(diagnostic.range))},
        {"severity", static_cast<int>(diagnostic.severity) + 1},  // the protocol's Error is 1
        {"code", diagnostic.code},
        {"message", diagnostic.message},
    });
  }
}

void JsonReport::finish() {
  out_ << "]\n";
}

}  // namespace quib::cli
