// Generated VALID Quibfiles for property tests: every document parses without a diagnostic,
// yet is written with odd spacing in every clause, byte order marks, CR LF line ends, block
// lines with inner indentation, '|' lines without a blank, multi-line headers and groups.
// Reproducible from a seed; header-only so any test program can use it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/fragments.h"

namespace quib::testing_support {

// Builds one document item by item. Names are drawn so that dependencies refer to tasks
// written earlier and placeholders to declared variables or the task's parameters, so the
// documents also read sensibly to the semantic layer.
class ValidDocumentBuilder {
 public:
  explicit ValidDocumentBuilder(Draw& draw) : draw_(draw) {}

  std::string build(uint32_t items) {
    out_.clear();
    if (draw_.chance(5)) out_ += "\xEF\xBB\xBF";
    directives();
    for (uint32_t i = 0; i < items; ++i) {
      blank_lines();
      switch (draw_.below(10)) {
        case 0:
          comment("");
          break;
        case 1:
        case 2:
          group();
          break;
        default:
          metadata_lines("");
          task("", /*in_group=*/false);
      }
    }
    if (draw_.chance(6)) metadata_lines("");  // loose metadata at the very end
    return line_ends(out_);
  }

 private:
  // Zero or more blanks, sometimes a tab.
  std::string gap() {
    static constexpr std::array<std::string_view, 6> kGaps = {"", "", " ", "  ", "\t", " \t "};
    return std::string(kGaps[draw_.below(kGaps.size())]);
  }
  // At least one blank.
  std::string blanks() {
    static constexpr std::array<std::string_view, 4> kBlanks = {" ", " ", "   ", "\t"};
    return std::string(kBlanks[draw_.below(kBlanks.size())]);
  }
  template <size_t N>
  std::string_view pick(const std::array<std::string_view, N>& options) {
    return options[draw_.below(N)];
  }

  // A placeholder with odd inner spacing, naming `name`.
  std::string placeholder(std::string_view name) {
    static constexpr std::array<std::string_view, 4> kInner = {"", " ", "  ", "\t"};
    return "{{" + std::string(pick(kInner)) + std::string(name) + std::string(pick(kInner)) + "}}";
  }

  void blank_lines() {
    const uint32_t count = draw_.below(4);
    for (uint32_t i = 0; i < count; ++i) out_ += (draw_.chance(3) ? gap() : "") + "\n";
  }

  void directives() {
    if (draw_.chance(3)) out_ += "!" + gap() + "version" + blanks() + "0.1" + gap() + "\n";
    const uint32_t vars = draw_.below(3);
    for (uint32_t i = 0; i < vars; ++i) {
      const std::string name = "v" + std::to_string(i);
      out_ += "!var" + blanks() + name + gap() + "=" + gap() + "\"value " + std::to_string(i) +
              " = x\"" + gap() + "\n";
      variables_.push_back(name);
      if (draw_.chance(2)) out_ += "\n";
    }
    if (draw_.chance(3)) out_ += "!shell" + blanks() + std::string(pick(kShells)) + "\n";
  }

  void comment(const std::string& indent) {
    out_ += indent + "# note " + std::to_string(draw_.below(100)) + (draw_.chance(3) ? "  " : "") +
            "\n";
  }

  void metadata_lines(const std::string& indent) {
    static constexpr std::array<std::string_view, 6> kKeys = {"help", "desc", "pass",
                                                              "fail", "help", "team"};
    const uint32_t count = draw_.below(4);
    for (uint32_t i = 0; i < count; ++i) {
      out_ += indent + "[" + std::string(pick(kKeys)) + "]" + gap() + "Text " +
              std::to_string(draw_.below(10));
      if (!variables_.empty() && draw_.chance(2)) {
        out_ += " " + placeholder(variables_[draw_.below(variables_.size())]);
      }
      out_ += gap() + "\n";
    }
    // Sometimes loose: a blank line or a comment between the metadata and what follows,
    // which may be a second run of metadata.
    if (count > 0 && draw_.chance(4)) {
      out_ += draw_.chance(2) ? "\n" : indent + "# between\n";
      if (draw_.chance(2)) metadata_lines(indent);
    }
  }

  std::string parameters(std::vector<std::string>& names, const std::string& indent) {
    std::string out = "(" + gap();
    const uint32_t count = draw_.below(4);
    for (uint32_t i = 0; i < count; ++i) {
      if (i > 0) {
        out += gap() + ",";
        out += draw_.chance(4) ? "\n" + indent + "    " : gap();
      }
      const std::string name = "p" + std::to_string(i);
      names.push_back(name);
      out += name;
      if (i + 1 == count && draw_.chance(4)) {
        out += "..";
      } else if (draw_.chance(2)) {
        out += gap() + "=" + gap() + "\"d,=" + std::to_string(i) + "\"";
      }
    }
    return out + gap() + ")";
  }

  std::string guard() {
    static constexpr std::array<std::string_view, 4> kGuards = {
        "os%(%\"linux\"%)", "arch(%\"x86_64\"%)", "env%(\"CI\")", "has(%\"git\"%)"};
    std::string out = "?" + gap() + "@";
    for (char c : pick(kGuards)) out += c == '%' ? gap() : std::string(1, c);
    return out;
  }

  std::string dependency() {
    const auto name = [&] { return tasks_[draw_.below(tasks_.size())]; };
    std::string out = "&" + gap();
    switch (draw_.below(3)) {
      case 0:
        return out + name();
      case 1:
        return out + name() + gap() + "(" + gap() + "\"a, b\"" + gap() + "," + gap() + "\"c\"" +
               gap() + ")";
      default:
        return out + "(" + gap() + name() + gap() + "," + gap() + name() + gap() + "(" + gap() +
               "\"x\"" + gap() + ")" + gap() + ")";
    }
  }

  std::string shell_clause() {
    switch (draw_.below(4)) {
      case 0:
        return "shell" + gap() + "=" + gap() + std::string(pick(kShells));
      case 1:
        return "shell~=" + gap() + (draw_.chance(2) ? "bash" : "pwsh");
      case 2:
        return "shell ~= pwsh";  // a required shell named oddly, not a preferred one
      default:
        return "shell=bash";
    }
  }

  void task(const std::string& indent, bool in_group) {
    const std::string name = "t" + std::to_string(tasks_.size());
    std::vector<std::string> params;
    std::vector<std::string> clauses;
    // Inside a group an indented header needs its parameter list to end the previous body.
    const bool with_list = in_group || draw_.chance(2);
    std::string header = indent + name + (draw_.chance(4) ? blanks() : "");
    if (with_list) header += parameters(params, indent);
    uint32_t guards = draw_.below(3);
    for (uint32_t i = 0; i < guards; ++i) clauses.push_back(guard());
    if (!tasks_.empty()) {
      const uint32_t deps = draw_.below(3);
      for (uint32_t i = 0; i < deps; ++i) clauses.push_back(dependency());
    }
    if (draw_.chance(3)) clauses.push_back(shell_clause());
    const bool body = clauses.empty() || !draw_.chance(4);
    // Clauses on lines of their own, as the formatter writes long headers; this only
    // continues after a parameter list.
    const bool broken = with_list && draw_.chance(4);
    for (const std::string& clause : clauses) {
      header += broken ? "\n" + indent + "    " + clause : blanks() + clause;
    }
    tasks_.push_back(name);
    if (!body) {
      out_ += header + gap() + "\n";
      return;
    }
    out_ += header + (broken ? "\n" + indent : gap()) + ":" + gap() + "\n";
    commands(indent, params, in_group);
  }

  void commands(const std::string& indent, const std::vector<std::string>& params, bool in_group) {
    static constexpr std::array<std::string_view, 4> kCommandIndent = {"    ", "  ", "\t",
                                                                       "        "};
    const std::string lead = indent + std::string(pick(kCommandIndent));
    const uint32_t count = 1 + draw_.below(5);
    for (uint32_t i = 0; i < count; ++i) {
      switch (draw_.below(8)) {
        case 0: {  // a block with inner indentation and an empty block line
          out_ += lead + "|" + gap() + "set -e\n";
          out_ += lead + "|     if true; then\n";
          out_ += lead + (draw_.chance(2) ? "|\n" : "| \n");
          out_ += lead + "|\t  echo done\n";
          break;
        }
        case 1:
          out_ += lead + "|grep x" + gap() + "\n";
          break;
        case 2:
          out_ += (draw_.chance(2) ? gap() : "") + "\n";
          break;
        case 3:
          if (!in_group) out_ += lead + "# a comment in the body\n";
          break;
        case 4:
          if (!params.empty()) {
            out_ += lead + "echo " + placeholder(params[draw_.below(params.size())]) + "\n";
            break;
          }
          [[fallthrough]];
        default:
          out_ += lead + "make all" + (draw_.chance(3) ? "   " : "") + "\n";
      }
    }
  }

  void group() {
    const std::string name = "g" + std::to_string(groups_++);
    metadata_lines("");
    out_ += "group" + blanks() + name + gap() + "{" + gap() + "\n";
    const uint32_t count = draw_.below(4);
    for (uint32_t i = 0; i < count; ++i) {
      blank_lines();
      const std::string indent = draw_.chance(4) ? "" : "    ";
      if (draw_.chance(6)) comment(indent);
      metadata_lines(indent);
      task(indent, /*in_group=*/true);
    }
    out_ += "}" + gap() + "\n";
  }

  // LF, CR LF, or a mix of both; sometimes the final line break is dropped.
  std::string line_ends(const std::string& text) {
    const uint32_t mode = draw_.below(4);
    std::string out;
    for (char c : text) {
      if (c == '\n' && (mode == 1 || (mode == 2 && draw_.chance(2)))) out += '\r';
      out += c;
    }
    if (draw_.chance(6)) {
      while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    }
    return out;
  }

  static constexpr std::array<std::string_view, 5> kShells = {"deno", "bash", "sh", "pwsh",
                                                              "powershell"};

  Draw& draw_;
  std::string out_;
  std::vector<std::string> variables_;
  std::vector<std::string> tasks_;
  uint32_t groups_ = 0;
};

// One valid document of about `items` top-level items.
inline std::string valid_document(Draw& draw, uint32_t items) {
  return ValidDocumentBuilder(draw).build(items);
}

}  // namespace quib::testing_support
