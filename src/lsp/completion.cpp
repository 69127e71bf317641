// The completion contexts, tried in order on the text of the cursor's line up to the cursor:
// dependency names after `&`, the `group` keyword, then the `!`, `@` and `[` markers.
#include "lsp/completion.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <unordered_set>

#include "lsp/declared_names.h"
#include "lsp/descriptions.h"
#include "lsp/version.h"
#include "syntax/ast_view.h"
#include "syntax/parse.h"
#include "syntax/text_util.h"

namespace quib::lsp {
namespace {

using Candidates = std::vector<CompletionCandidate>;

// Joins texts. Used instead of `"literal" + std::string`, which GCC 12 misreports under
// -Wrestrict when optimising.
std::string concat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

bool is_word_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

// True for the empty text too: an empty word matches every name.
bool is_word(std::string_view text) {
  for (char c : text) {
    if (!is_word_char(c)) return false;
  }
  return true;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool is_ascii_space(char c) {
  return is_blank(c) || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool only_blanks(std::string_view text) {
  for (char c : text) {
    if (!is_blank(c)) return false;
  }
  return true;
}

std::string_view trim_start_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view trim_end_space(std::string_view text) {
  while (!text.empty() && is_ascii_space(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view trim_space(std::string_view text) {
  text = trim_end_space(text);
  while (!text.empty() && is_ascii_space(text.front())) text.remove_prefix(1);
  return text;
}

// ---- fixed candidates ----

// "!version ${1:0.5}": the snippet proposes the language level of this server, its version's
// first two components.
std::string version_snippet() {
  const size_t first = kServerVersion.find('.');
  const size_t second =
      first == std::string_view::npos ? first : kServerVersion.find('.', first + 1);
  return "!version ${1:" + std::string(kServerVersion.substr(0, second)) + "}";
}

std::string shell_snippet() {
  std::string choices;
  for (std::string_view shell : ShellKind::kWords) {
    if (!choices.empty()) choices += ',';
    choices += shell;
  }
  return "!shell ${1|" + choices + "|}";
}

void add_directives(std::string_view word, TextRange replace, Candidates& out) {
  const std::array<std::string, DirectiveKind::Other> snippets{
      version_snippet(), "!var ${1:name} = \"${2:value}\"", shell_snippet()};
  for (size_t i = 0; i < snippets.size(); ++i) {
    const DirectiveKind kind(static_cast<DirectiveKind::Tag>(i));
    if (!kind.word().starts_with(word)) continue;
    out.push_back({concat({"!", kind.word()}), std::string(*describe(kind)), snippets[i], replace,
                   CandidateCategory::Directive});
  }
}

void add_guards(std::string_view word, TextRange replace, Candidates& out) {
  // The placeholder argument each guard's snippet proposes.
  constexpr std::array<std::string_view, GuardKind::Other> kExamples{"linux", "x86_64", "NAME",
                                                                     "command"};
  for (size_t i = 0; i < kExamples.size(); ++i) {
    const GuardKind kind(static_cast<GuardKind::Tag>(i));
    if (!kind.word().starts_with(word)) continue;
    const std::string name(kind.word());
    out.push_back({concat({"@", name}), std::string(*describe(kind)),
                   concat({"@", name, "(\"${1:", kExamples[i], "}\")"}), replace,
                   CandidateCategory::Guard});
  }
}

// With `closed`, a `]` after the cursor is already part of the replaced text, so the snippet
// stops at the key.
void add_metadata(std::string_view word, TextRange replace, bool closed, Candidates& out) {
  for (size_t i = 0; i < MetadataField::kWords.size(); ++i) {
    const MetadataField field(static_cast<MetadataField::Tag>(i));
    if (!field.word().starts_with(word)) continue;
    const std::string label = concat({"[", field.word(), "]"});
    out.push_back({label, std::string(describe(field)), closed ? label : label + " ${1:text}",
                   replace, CandidateCategory::MetadataKey});
  }
}

// ---- dependency context ----

// The line that ends just before `line_start` (which must be past a line feed), without its
// line feed.
std::string_view previous_line(std::string_view text, size_t line_start) {
  const size_t end = line_start - 1;
  const size_t newline = end == 0 ? std::string_view::npos : text.rfind('\n', end - 1);
  const size_t start = newline == std::string_view::npos ? 0 : newline + 1;
  return text.substr(start, end - start);
}

// The name of the task whose header is being typed: the text before its `(`, when that is a
// name at all.
std::optional<std::string> edited_task_name(std::string_view before_ampersand) {
  const std::string_view name = trim_space(before_ampersand.substr(0, before_ampersand.find('(')));
  if (name.empty() || !is_word(name)) return std::nullopt;
  return std::string(name);
}

// Nothing when the cursor is not in a dependency clause; otherwise the (possibly empty) list of
// task and group names to offer.
std::optional<Candidates> dependency_candidates(const SemanticModel& model, std::string_view text,
                                                size_t line_start, size_t cursor) {
  const std::string_view line = text.substr(line_start, cursor - line_start);
  const size_t ampersand = line.find('&');
  if (ampersand == std::string_view::npos) return std::nullopt;
  const std::string_view before = trim_end_space(line.substr(0, ampersand));
  // A clause after the header's parameters or guards on this line, or a clause on a line of
  // its own below such a header.
  const bool header_here = before.ends_with(')');
  const bool header_above = !header_here && before.empty() && line_start > 0 &&
                            trim_end_space(previous_line(text, line_start)).ends_with(')');
  if (!header_here && !header_above) return std::nullopt;

  const std::string_view typed = trim_start_blanks(line.substr(line.rfind('&') + 1));
  const size_t dot = typed.find('.');
  const std::string_view group = dot == std::string_view::npos ? "" : typed.substr(0, dot);
  const std::string_view prefix = dot == std::string_view::npos ? typed : typed.substr(dot + 1);
  // A parallel list `(a, b` or arguments: nothing to complete as one name.
  if (!is_word(group) || !is_word(prefix)) return Candidates{};

  const size_t line_feed = text.find('\n', cursor);
  const DeclaredNames names = declared_names_without(
      model, text, line_start, line_feed == std::string_view::npos ? text.size() : line_feed + 1);
  // A task never depends on itself, in any of its definitions. When the header is not on this
  // line, it is the task that ends where this line was removed.
  std::optional<std::string> edited = edited_task_name(line.substr(0, ampersand));
  if (!edited && line_start > 0) {
    for (const DeclaredTask& task : names.tasks) {
      if (task.range.contains(static_cast<uint32_t>(line_start - 1))) {
        edited = std::string(task.name);
      }
    }
  }
  const auto offered = [&](const DeclaredTask& task) {
    return task.name.starts_with(prefix) && (!edited || task.name != *edited);
  };

  Candidates out;
  const TextRange replace(static_cast<uint32_t>(cursor - prefix.size()),
                          static_cast<uint32_t>(cursor));
  // Overloads and reopened groups share a name; each name is offered once.
  std::unordered_set<std::string_view> tasks_seen;
  if (dot != std::string_view::npos) {
    const std::string detail = "Task in group " + std::string(group) + ".";
    for (const DeclaredTask& task : names.tasks) {
      if (task.group != group || !offered(task) || !tasks_seen.insert(task.name).second) continue;
      out.push_back({std::string(task.name), detail, std::string(task.name), replace,
                     CandidateCategory::TaskDependency});
    }
    return out;
  }
  // Tasks inside groups are reached only through the dotted form.
  for (const DeclaredTask& task : names.tasks) {
    if (task.group || !offered(task) || !tasks_seen.insert(task.name).second) continue;
    out.push_back({std::string(task.name), "Task dependency.", std::string(task.name), replace,
                   CandidateCategory::TaskDependency});
  }
  std::unordered_set<std::string_view> groups_seen;
  for (std::string_view declared : names.groups) {
    if (!declared.starts_with(prefix) || !groups_seen.insert(declared).second) continue;
    out.push_back({std::string(declared), "Group dependency.", std::string(declared), replace,
                   CandidateCategory::GroupDependency});
  }
  return out;
}

// ---- keyword and marker contexts ----

// Nothing unless the line so far is one bare word.
std::optional<Candidates> keyword_candidates(std::string_view line, size_t cursor) {
  const std::string_view word = trim_start_blanks(line);
  if (word.empty() || !is_word(word)) return std::nullopt;
  constexpr std::string_view kGroup = "group";
  if (!kGroup.starts_with(word)) return Candidates{};
  const TextRange replace(static_cast<uint32_t>(cursor - word.size()),
                          static_cast<uint32_t>(cursor));
  return Candidates{{std::string(kGroup), "Define a task group.", "group ${1:name} {\n    ${0}\n}",
                     replace, CandidateCategory::Keyword}};
}

// The word typed right after a `!`, `@` or `[`; the replaced text starts at the marker.
Candidates marker_candidates(std::string_view text, size_t line_start, size_t cursor) {
  size_t word_start = cursor;
  while (word_start > line_start && is_word_char(text[word_start - 1])) --word_start;
  if (word_start == line_start) return {};
  const size_t marker = word_start - 1;
  const std::string_view word = text.substr(word_start, cursor - word_start);
  const std::string_view before = text.substr(line_start, marker - line_start);
  TextRange replace(static_cast<uint32_t>(marker), static_cast<uint32_t>(cursor));

  Candidates out;
  switch (text[marker]) {
    case '!':
      if (only_blanks(before)) add_directives(word, replace, out);
      break;
    case '@':
      // Guards belong to a guard clause, which starts with `?`.
      if (before.find('?') != std::string_view::npos) add_guards(word, replace, out);
      break;
    case '[': {
      if (!only_blanks(before)) break;
      // A key already closed after the cursor ('[h|]', '[he|lp]') is replaced up to and
      // including its `]`. A `]` further on, after other text, belongs to that text.
      size_t after = cursor;
      while (after < text.size() && is_word_char(text[after])) ++after;
      const bool closed = after < text.size() && text[after] == ']';
      if (closed) replace = TextRange(replace.start, static_cast<uint32_t>(after + 1));
      add_metadata(word, replace, closed, out);
      break;
    }
    default:
      break;
  }
  return out;
}

}  // namespace

std::vector<CompletionCandidate> completion_at(const SemanticModel& model, std::string_view text,
                                               uint32_t cursor) {
  const size_t end = std::min<size_t>(cursor, text.size());
  const size_t newline = end == 0 ? std::string_view::npos : text.rfind('\n', end - 1);
  const size_t line_start = newline == std::string_view::npos ? 0 : newline + 1;
  const std::string_view line = text.substr(line_start, end - line_start);

  if (auto found = dependency_candidates(model, text, line_start, end)) {
    return std::move(*found);
  }
  if (auto found = keyword_candidates(line, end)) return std::move(*found);
  return marker_candidates(text, line_start, end);
}

int completion_item_kind(CandidateCategory category) {
  switch (category) {
    case CandidateCategory::Directive:
    case CandidateCategory::Keyword:
      return 14;  // Keyword
    case CandidateCategory::Guard:
    case CandidateCategory::TaskDependency:
      return 3;  // Function
    case CandidateCategory::MetadataKey:
      return 10;  // Property
    case CandidateCategory::GroupDependency:
      return 9;  // Module
  }
  QUIB_ASSERT(false, "every completion category has an item kind");
}

}  // namespace quib::lsp
