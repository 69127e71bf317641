// The typed view over the syntax tree: thin wrappers, one per node kind, created only by a
// kind-checked cast, with accessors that read names, values and ranges from token texts (a text
// spanning several tokens is a slice of the parsed source when the tree has one).
// The view never reports diagnostics, never fails and caches nothing: missing parts give empty
// optionals or empty lists. Every returned text is an owned copy; every range is in document
// bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/assert.h"
#include "syntax/syntax_node.h"
#include "syntax/text_range.h"

namespace quib {

// ---------------------------------------------------------------------------------------------
// Word enumerations

// One of a fixed list of members, or `Other` carrying the word as written when it matches none
// of them. Matching is exact and case-sensitive. `Members` supplies an unscoped `Tag` whose last
// member is `Other` and `kWords`, the written word of every fixed member in tag order, so both
// `kind == GuardKind::Os` and `switch (kind.tag()) { case GuardKind::Os: ... }` read naturally.
// kWords is also the list completion offers.
template <typename Members>
class WordEnum : public Members {
 public:
  using Tag = typename Members::Tag;

  // A fixed member. Implicit so that a member compares directly: `kind == ShellKind::Bash`.
  WordEnum(Tag tag) : tag_(tag) {
    QUIB_ASSERT(tag != Members::Other, "an Other word kind is made by from_word, with its word");
  }

  static WordEnum from_word(std::string_view word) {
    for (size_t i = 0; i < Members::kWords.size(); ++i) {
      if (Members::kWords[i] == word) return WordEnum(static_cast<Tag>(i));
    }
    return WordEnum(std::string(word));
  }

  Tag tag() const { return tag_; }
  bool is_other() const { return tag_ == Members::Other; }
  // The display word: the fixed member's word, or the word as written.
  std::string_view word() const {
    return is_other() ? std::string_view(other_) : Members::kWords[tag_];
  }

  bool operator==(const WordEnum& other) const {
    return tag_ == other.tag_ && other_ == other.other_;
  }

 private:
  explicit WordEnum(std::string word) : tag_(Members::Other), other_(std::move(word)) {}

  Tag tag_;
  std::string other_;  // Invariant: empty unless tag_ == Other.
};

struct DirectiveKindMembers {
  enum Tag : uint8_t { Version, Var, Shell, Other };
  static constexpr std::array<std::string_view, Other> kWords{"version", "var", "shell"};
};
struct MetadataFieldMembers {
  enum Tag : uint8_t { Help, Desc, Pass, Fail, Other };
  static constexpr std::array<std::string_view, Other> kWords{"help", "desc", "pass", "fail"};
};
struct GuardKindMembers {
  enum Tag : uint8_t { Os, Arch, Env, Has, Other };
  static constexpr std::array<std::string_view, Other> kWords{"os", "arch", "env", "has"};
};
struct ShellKindMembers {
  enum Tag : uint8_t { Deno, Bash, Sh, Pwsh, Powershell, Other };
  static constexpr std::array<std::string_view, Other> kWords{"deno", "bash", "sh", "pwsh",
                                                              "powershell"};
};

using DirectiveKind = WordEnum<DirectiveKindMembers>;
using MetadataField = WordEnum<MetadataFieldMembers>;
using GuardKind = WordEnum<GuardKindMembers>;
using ShellKind = WordEnum<ShellKindMembers>;

// The display word of any word enumeration ("os", or the word as written). The view points
// into `kind`, which must outlive it.
template <typename Members>
std::string_view name(const WordEnum<Members>& kind) {
  return kind.word();
}

// How a task's shell clause asks for its shell: `shell=` requires it, `shell~=` prefers it and
// accepts a fallback.
enum class ShellMode : uint8_t { Required, Preferred };

// The clause keyword as written in a header: "shell=" or "shell~=".
std::string_view name(ShellMode mode);

// ---------------------------------------------------------------------------------------------
// Records produced by the task accessors

struct ParameterView {
  std::string name;  // first Word or ShellKeyword token (a parameter may be named `shell`)
  TextRange name_range;
  std::optional<std::string> default_value;  // the first string, unquoted, not unescaped
  bool is_slice = false;                     // written `rest..`
  TextRange range;                           // the whole Parameter node
};

// Only guards with both a name and a string argument that unquotes get a view.
struct GuardView {
  GuardKind kind;
  std::string name;
  std::string argument;      // unquoted, not unescaped
  TextRange range;           // the whole Guard node
  TextRange head_range;      // from the `@` (or the name when there is none) to the end of the name
  TextRange argument_range;  // the argument's string token, quotes included
};

struct DependencyArgument {
  std::string text;  // unquoted, not unescaped
  TextRange range;   // the string token, quotes included

  bool operator==(const DependencyArgument&) const = default;
};

// One dependency entry; a parallel clause `& (a, b)` gives one entry per name.
struct DependencyView {
  std::string name;  // the tokens before the entry's `(`, concatenated (`ci.build`)
  TextRange name_range;
  TextRange range;  // the whole entry, arguments included
  std::vector<DependencyArgument> arguments;
  // Index, from 0, of the `&` clause the entry came from; entries of one clause share it.
  uint32_t clause_index = 0;
};

struct ShellOverrideView {
  ShellMode mode;
  ShellKind shell;  // the clause's last Word
  TextRange range;  // first to last non-space token of the clause
  TextRange shell_range;
};

// Everything a header declares, gathered in one walk of its children. The name, name range and
// body marker come along because every caller of the header view also needs them.
struct TaskHeaderView {
  std::optional<std::string> name;
  std::optional<TextRange> name_range;
  std::vector<ParameterView> parameters;
  std::vector<GuardView> guards;
  std::vector<DependencyView> dependencies;
  // The dependency clause texts, each without its `&` and trimmed, joined by " & "; absent when
  // the header has no dependency clause.
  std::optional<std::string> dependency_summary;
  std::optional<ShellOverrideView> shell;      // from the first shell clause only
  std::optional<TextRange> body_marker_range;  // the header's final `:`
};

// One command of a task body: a single line, or a block of consecutive `| ` lines.
struct BodyLine {
  // A single line: the line without its leading spaces and tabs (trailing blanks kept), exactly
  // the document bytes at `range`. A block: each line's content after its `|` and the one blank
  // following it, each followed by "\n".
  std::string text;
  // A single line: exactly `text`. A block: from the first line's start (indentation included)
  // to the end of the last line's terminator.
  TextRange range;
  // Block only: each source line from its start (indentation included) to its end, terminator
  // excluded, and the one-byte range of its `|`. Empty for a single line.
  std::vector<TextRange> line_ranges;
  std::vector<TextRange> marker_ranges;

  bool is_block() const { return !marker_ranges.empty(); }
};

// Where the parts of a well-formed metadata line are, without copies of their texts: the key is
// the document's bytes inside the brackets of `key_range`, the value those of `value_range`.
struct MetadataLayout {
  MetadataField field;    // from the key
  TextRange key_range;    // `[`, key and `]`
  TextRange value_range;  // as in MetadataView
};

// Everything a well-formed metadata line says, read in one pass over its text.
struct MetadataView {
  MetadataField field;  // from the key
  std::string key;      // as written
  std::string value;    // after the `]`, trimmed; may be empty
  TextRange key_range;  // `[`, key and `]`
  // The trimmed value's bytes (empty, just after the `]`, when the value is empty).
  TextRange value_range;
};

// ---------------------------------------------------------------------------------------------
// Wrappers

// Holds one node of kind `K`; `Derived` is made only through `cast`, so a wrapper always wraps
// the kind it names.
template <typename Derived, SyntaxKind K>
class TypedNode {
 public:
  static std::optional<Derived> cast(const SyntaxNode& node) {
    if (node.kind() != K) return std::nullopt;
    return Derived(node);
  }
  const SyntaxNode& syntax() const { return node_; }
  TextRange range() const { return node_.text_range(); }

 protected:
  explicit TypedNode(SyntaxNode node) : node_(std::move(node)) {}
  SyntaxNode node_;
};

// The root.
class Document : public TypedNode<Document, SyntaxKind::Document> {
 public:
  // The item nodes (Directive, Metadata, GroupLine, Task, ErrorItem) in document order.
  std::vector<SyntaxNode> items() const { return node_.children(); }

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

// A `!name value` line. "Non-space" tokens below are the child tokens other than Whitespace,
// Newline and Indent (comments count).
class Directive : public TypedNode<Directive, SyntaxKind::Directive> {
 public:
  // The second non-space token (the one after `!`), whatever its kind.
  std::optional<std::string> name() const;
  std::optional<TextRange> name_range() const;
  std::optional<DirectiveKind> kind() const;
  // Every token after the name up to the line end, concatenated and trimmed; absent when empty.
  // The name is skipped only when it is a Word: `!shell bash` gives "shell bash", because
  // `shell` is a ShellKeyword token.
  std::optional<std::string> value_text() const;
  // The non-space tokens after the name joined by single spaces: "bash" for `!shell  bash`,
  // `name = "v"` for `!var name="v"`. Absent when there are none.
  std::optional<std::string> arguments() const;
  // For `!var name = "v"`: the first to the last non-space token after the directive name and
  // before the first `=` (all of them without an `=`); absent when there is none.
  std::optional<TextRange> variable_name_range() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

// A `[key] text` line. All accessors give nothing unless the trimmed line starts with `[`, has
// a `]`, and the key between them is non-empty ASCII letters, digits, `-` and `_`.
class Metadata : public TypedNode<Metadata, SyntaxKind::Metadata> {
 public:
  // All of the accessors below at once.
  std::optional<MetadataView> view() const;
  // The field and the ranges alone, copying no text.
  std::optional<MetadataLayout> layout() const;
  std::optional<MetadataField> field() const;
  std::optional<std::string> key() const;    // as written
  std::optional<std::string> value() const;  // after the `]`, trimmed; may be empty
  // `[`, key and `]`.
  std::optional<TextRange> key_range() const;
  // The trimmed value's bytes (empty, just after the `]`, when the value is empty).
  std::optional<TextRange> value_range() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

// A `group name {` line or a `}` line.
class GroupLine : public TypedNode<GroupLine, SyntaxKind::GroupLine> {
 public:
  bool is_close() const;                    // the trimmed line is exactly "}"
  std::optional<std::string> name() const;  // the first Word token
  std::optional<TextRange> name_range() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

class TaskName : public TypedNode<TaskName, SyntaxKind::TaskName> {
 public:
  std::optional<std::string> text() const;  // the wrapped name token
  std::optional<TextRange> token_range() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

class Parameter : public TypedNode<Parameter, SyntaxKind::Parameter> {
 public:
  // Absent for a parameter without a Word or ShellKeyword token.
  std::optional<ParameterView> view() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

class ParameterList : public TypedNode<ParameterList, SyntaxKind::ParameterList> {
 public:
  std::vector<Parameter> parameters() const;
  // The views of the parameters that have a name, in order.
  std::vector<ParameterView> views() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

class Guard : public TypedNode<Guard, SyntaxKind::Guard> {
 public:
  // Absent without a Word name or without a string argument that unquotes.
  std::optional<GuardView> view() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

class Dependency : public TypedNode<Dependency, SyntaxKind::Dependency> {
 public:
  // The clause's entries, each tagged with `clause_index`.
  std::vector<DependencyView> entries(uint32_t clause_index) const;
  // The clause without its leading `&`, trimmed.
  std::string clause_text() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

class ShellOverride : public TypedNode<ShellOverride, SyntaxKind::ShellOverride> {
 public:
  // Absent unless the clause starts with `shell`/`shell~=` and contains a Word.
  std::optional<ShellOverrideView> view() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

class TaskHeader : public TypedNode<TaskHeader, SyntaxKind::TaskHeader> {
 public:
  std::optional<TaskName> task_name() const;
  // The first child node of each kind / all of them in order.
  std::optional<ParameterList> parameter_list() const;
  std::optional<ShellOverride> shell_override() const;
  std::vector<Guard> guards() const;
  std::vector<Dependency> dependencies() const;
  std::optional<TextRange> body_marker_range() const;
  // Parameters, guards, dependencies and shell clause in one walk of the children.
  TaskHeaderView view() const;

 private:
  friend TypedNode;
  using TypedNode::TypedNode;
};

// A task: its header and the command lines below it.
class Task : public TypedNode<Task, SyntaxKind::Task> {
 public:
  std::optional<TaskHeader> header() const;
  std::optional<std::string> name() const;
  std::optional<TextRange> name_range() const;
  // The header's view; an empty view for a task without a header.
  TaskHeaderView header_view() const;
  // The same view written over `view`, whose lists keep their storage, so a caller reading many
  // tasks allocates the lists once; without `dependency_summary`, which such callers (lowering,
  // highlighting) never read and which would cost a joined text per task.
  void header_view_into(TaskHeaderView& view) const;
  // The commands of the body, in order. Blank lines and lines whose first non-blank character
  // is `#` are no commands, and they end a block.
  std::vector<BodyLine> body_lines() const;
  // The same commands, replacing the contents of `lines` but keeping its storage, and without
  // copying a single line's text: its `text` is left empty, since it is exactly the document
  // bytes at its `range`. (Commands are most of a document's bytes; the readers of many tasks
  // hold the text already.)
  void body_lines_into(std::vector<BodyLine>& lines) const;

 private:
  // `body_lines_into`, copying a single line's text too when `copy_single_lines`.
  void collect_body_lines(std::vector<BodyLine>& lines, bool copy_single_lines) const;
  friend TypedNode;
  using TypedNode::TypedNode;
};

// `text` without one leading and one trailing double quote, backslashes untouched; absent when
// either quote is missing (a lone `"` has no value).
std::optional<std::string_view> unquote(std::string_view text);

}  // namespace quib
