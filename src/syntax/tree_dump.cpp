#include "syntax/tree_dump.h"

namespace quib {
namespace {

void append_range(std::string& out, TextRange range) {
  out += '@';
  out += std::to_string(range.start);
  out += "..";
  out += std::to_string(range.end);
}

// Token texts are quoted with the control characters a reader needs to see escaped.
void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  out += '"';
}

}  // namespace

std::string dump_tree(const SyntaxNode& root) {
  std::string out;
  size_t depth = 0;
  Preorder walk(root, /*with_tokens=*/true);
  while (auto step = walk.next()) {
    if (step->event == Preorder::Event::Leave) {
      --depth;
      continue;
    }
    out.append(depth * 2, ' ');
    out += kind_name(step->element.kind());
    append_range(out, step->element.text_range());
    if (const SyntaxToken* token = step->element.as_token()) {
      out += ' ';
      append_quoted(out, token->text());
    } else {
      ++depth;
    }
    out += '\n';
  }
  return out;
}

std::string dump_tree(const SyntaxNode& root, const std::vector<Diagnostic>& diagnostics) {
  std::string out = dump_tree(root);
  for (const Diagnostic& d : diagnostics) {
    out += "error ";
    out += std::to_string(d.range.start);
    out += "..";
    out += std::to_string(d.range.end);
    out += ": ";
    out += d.code;
    out += '\n';
  }
  return out;
}

}  // namespace quib
