// The document model: the directives, groups and tasks of one file as plain records with
// resolved names. Built by `analyze`; holds no tree handles, so it outlives the tree it came from.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "semantic/interpolation.h"
#include "syntax/assert.h"
#include "syntax/ast_view.h"
#include "syntax/diagnostic.h"
#include "syntax/text_range.h"

namespace quib {

// Every range below is a TextRange in byte offsets of the whole document unless its comment
// says otherwise.

// A read-only list of records kept in a pool that many lists share (see `RecordPools`): a slice
// of a vector, named by the vector and an offset, so the list stays valid while the pool grows.
// Invariant: the pool outlives the list; a model keeps the pools of all its lists.
template <typename T>
class RecordList {
 public:
  using value_type = T;
  using iterator = const T*;
  using const_iterator = const T*;

  RecordList() = default;
  // The `size` records of `pool` from `offset` on.
  RecordList(const std::vector<T>& pool, size_t offset, size_t size)
      : pool_(&pool), offset_(static_cast<uint32_t>(offset)), size_(static_cast<uint32_t>(size)) {}

  const T* begin() const { return size_ == 0 ? nullptr : pool_->data() + offset_; }
  const T* end() const { return begin() + size_; }
  const T* data() const { return begin(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T& operator[](size_t index) const { return begin()[index]; }
  const T& front() const { return *begin(); }
  const T& back() const { return end()[-1]; }

  // Whether the list's records are in `pool`; an empty list is in every pool.
  bool is_in(const std::vector<T>& pool) const { return size_ == 0 || pool_ == &pool; }
  // The same records, writable, for the owner of `pool`, the pool they are in.
  std::span<T> in(std::vector<T>& pool) const {
    QUIB_ASSERT(is_in(pool), "a list's records are written through their own pool");
    return size_ == 0 ? std::span<T>() : std::span<T>(pool).subspan(offset_, size_);
  }

  bool operator==(const RecordList& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
  }

 private:
  const std::vector<T>* pool_ = nullptr;
  uint32_t offset_ = 0;
  uint32_t size_ = 0;
};

// `!version major.minor`.
struct LanguageVersion {
  uint64_t major = 0;
  uint64_t minor = 0;

  bool operator==(const LanguageVersion&) const = default;
};

// `!shell word`: the word as written; the checks turn it into a ShellKind.
struct ShellDirective {
  std::string word;

  bool operator==(const ShellDirective&) const = default;
};

// `!var name = "value"`.
struct VariableDecl {
  std::string name;
  std::string value;     // between the quotes, backslashes untouched
  TextRange name_range;  // the written name; the directive line when the view gives none
  TextRange range;       // the directive line

  bool operator==(const VariableDecl&) const = default;
};

// One directive that lowered cleanly; directives with errors are not recorded.
struct DirectiveDecl {
  std::variant<LanguageVersion, ShellDirective, VariableDecl> form;
  TextRange range;  // the whole directive line node

  const LanguageVersion* version() const { return std::get_if<LanguageVersion>(&form); }
  const ShellDirective* shell() const { return std::get_if<ShellDirective>(&form); }
  const VariableDecl* variable() const { return std::get_if<VariableDecl>(&form); }

  bool operator==(const DirectiveDecl&) const = default;
};

// The metadata lines attached to one task or group. Each text is the values of all lines of
// that key joined with "\n", absent when there was no such line: a view of the document for one
// line, of a joined text the model keeps for more; valid while the model lives.
struct MetadataBlock {
  std::optional<std::string_view> help;  // short summary
  std::optional<std::string_view> desc;  // extra help details
  std::optional<std::string_view> pass;  // shown when a task succeeds
  std::optional<std::string_view> fail;  // shown when a task fails
  // The value of every `[help]` line of this block, in order (the whole line when its value
  // has no range). Never inherited, unlike the texts.
  RecordList<TextRange> help_ranges;
  // Keys other than help/desc/pass/fail as written, in order, duplicates kept.
  RecordList<std::string> unknown_fields;

  size_t help_count() const { return help_ranges.size(); }

  bool operator==(const MetadataBlock&) const = default;
};

// The `shell=` / `shell~=` clause of a task header.
struct ShellSetting {
  ShellKind shell;
  ShellMode mode;
  TextRange range;  // the clause, first to last non-space token

  bool operator==(const ShellSetting&) const = default;
};

struct ParamDecl {
  std::string name;
  std::optional<std::string> default_value;  // unquoted, not unescaped
  bool variadic = false;                     // written `rest..`; captures the remaining arguments
  TextRange range;                           // the parameter's name

  bool operator==(const ParamDecl&) const = default;
};

struct GuardDecl {
  GuardKind kind;        // os/arch/env/has, or the unknown name as written
  std::string argument;  // without quotes
  TextRange range;       // the whole guard clause

  bool operator==(const GuardDecl&) const = default;
};

struct DependencyDecl {
  // The target as written, or "{group}.{name}" when it names a sibling task of the same group.
  std::string name;
  TextRange name_range;  // the name as written
  TextRange range;       // the whole entry, arguments included
  RecordList<DependencyArgument> arguments;
  // Entries of one parenthesised parallel clause share the index.
  uint32_t clause_index = 0;

  bool operator==(const DependencyDecl&) const = default;
};

// One command of a task body: a single line or a block of consecutive `| ` lines.
struct CommandLine {
  // Single line: exactly the document bytes at `range`. Block: each line's content after its
  // `|` and one blank, each followed by "\n". A view of the document text or of the joined
  // text the model keeps; valid while the model lives.
  std::string_view text;
  TextRange range;
  // Block only: each source line (indentation included, terminator excluded) and the one-byte
  // range of its `|`. Empty for a single line.
  RecordList<TextRange> line_ranges;
  RecordList<TextRange> marker_ranges;
  // References found in `text`. Their ranges are offsets into `text`, not the document;
  // `to_document_range` maps them.
  RecordList<Interpolation> interpolations;

  bool is_block() const { return !marker_ranges.empty(); }

  bool operator==(const CommandLine&) const = default;
};

// Maps offsets in a command's `text` to document offsets. For a single line that is a shift by
// the start of `range`; in a block each offset lands on the same content byte of its own source
// line, and the "\n" that ends a line's content maps to that line's end.
// Invariant: results lie inside the command's `range`.
class CommandOffsetMap {
 public:
  explicit CommandOffsetMap(const CommandLine& command);

  uint32_t to_document(uint32_t text_offset) const;
  TextRange to_document(TextRange text_range) const;

 private:
  // One block line: where its content starts in the joined text and in the document.
  struct Segment {
    uint32_t text_start;
    uint32_t document_start;
    uint32_t length;
  };
  TextRange command_range_;
  std::vector<Segment> segments_;  // empty for a single line
};

struct GroupDecl {
  MetadataBlock metadata;
  std::string name;
  std::optional<std::string_view> summary;  // metadata.help
  TextRange range;                          // the opening `group name {` line
  std::optional<TextRange> close_range;     // the `}` line that closed it

  bool operator==(const GroupDecl&) const = default;
};

struct TaskDecl {
  MetadataBlock metadata;  // after inheritance from the first definition of the same name
  RecordList<ParamDecl> parameters;
  RecordList<GuardDecl> guards;
  RecordList<DependencyDecl> dependencies;
  RecordList<CommandLine> commands;
  std::optional<ShellSetting> shell;
  std::string name;                         // the name token's text
  TextRange name_range;                     // the name token
  std::optional<std::string> group;         // the group open when the task appeared
  TextRange range;                          // the whole task node, header and body
  std::optional<std::string_view> summary;  // metadata.help after inheritance

  // "{group}.{name}" inside a group, else the name.
  std::string qualified_name() const;
  // The display signature "name(a, b=\"x\", rest..)": the plain name, parameters joined by
  // ", ", parentheses always written; defaults are quoted as stored, without escaping.
  std::string task_signature() const;

  bool operator==(const TaskDecl&) const = default;
};

// Asks the processor for the task record that a pass over a model's tasks reads `kAhead` tasks
// from now: a large model's records do not fit the caches, and fetched ahead their misses
// overlap. Touches nothing past the list.
inline void prefetch_task(const std::vector<TaskDecl>& tasks, size_t index) {
  constexpr size_t kAhead = 8;
  if (index + kAhead >= tasks.size()) return;
  const TaskDecl& task = tasks[index + kAhead];
  __builtin_prefetch(&task.metadata);
  __builtin_prefetch(&task.dependencies);
  __builtin_prefetch(&task.name);
  __builtin_prefetch(&task.summary);
}

struct SymbolEntry {
  std::string name;
  TextRange range;

  bool operator==(const SymbolEntry&) const = default;
};

// Bytes stored for views that must stay valid while more is stored: kept in chunks that never
// move. A text longer than a chunk gets one of its own.
class TextArena {
 public:
  // A view of a copy of `text`, valid while the arena lives and until `clear`.
  std::string_view store(std::string_view text);
  // Forgets every stored text, keeping the chunks of ordinary size for the texts to come.
  void clear();

 private:
  static constexpr size_t kChunkBytes = 64 * 1024;
  // Chunks of kChunkBytes; those from `next_chunk_` on are unused (kept from before a clear).
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t next_chunk_ = 0;
  // One chunk per text longer than kChunkBytes.
  std::vector<std::unique_ptr<char[]>> long_texts_;
  char* free_ = nullptr;
  size_t free_bytes_ = 0;
};

// The records of the lists of a model's tasks and groups, one vector per record type, so that a
// task's lists cost no allocation each. Filled by one lowering run; read-only afterwards, apart
// from the passes of that lowering.
struct RecordPools {
  // The document text, which single-line commands and one-line metadata texts view.
  std::shared_ptr<const std::string> source;
  // The joined texts of block commands and of metadata keys given on several lines.
  TextArena joined_texts;
  std::vector<ParamDecl> parameters;
  std::vector<GuardDecl> guards;
  std::vector<DependencyDecl> dependencies;
  std::vector<DependencyArgument> arguments;
  std::vector<CommandLine> commands;
  std::vector<Interpolation> interpolations;
  std::vector<TextRange> ranges;         // help, block line and block marker ranges
  std::vector<std::string> field_names;  // unknown metadata keys

  // Empties every pool, keeping its storage.
  void clear();
};

// The pools a model's lists point into, kept alive by the model and every copy of it. Which
// pools hold the records is not part of the model's value, so any two compare equal.
struct RecordPoolOwner {
  std::vector<std::shared_ptr<RecordPools>> pools;

  bool operator==(const RecordPoolOwner&) const { return true; }
};

struct SemanticModel {
  std::vector<DirectiveDecl> directives;   // document order
  std::vector<GroupDecl> groups;           // order of their opening lines
  std::vector<TaskDecl> tasks;             // document order
  std::vector<SymbolEntry> group_symbols;  // one per group: name and opening line
  std::vector<SymbolEntry> task_symbols;   // one per task: qualified name and task range
  // Parse diagnostics, then lowering diagnostics in raise order, then check diagnostics in
  // check order. Never sorted.
  std::vector<Diagnostic> diagnostics;
  RecordPoolOwner record_pools;

  bool operator==(const SemanticModel&) const = default;
};

// The storage of an emptied model, lent to the next lowering (see `analyze`): its task list with
// every task reset to a default record and the list's buffer kept, and its record pools emptied
// with their storage kept. The next model is then built without fresh memory, whose first touch
// costs a page fault per page.
struct ModelStorage {
  std::vector<TaskDecl> tasks;
  std::vector<std::shared_ptr<RecordPools>> pools;  // each held by nothing else
};

// Empties `model` and hands back its storage; pools that a copy of the model still uses stay
// with that copy.
ModelStorage empty_model(SemanticModel& model);
// Empties `model`, task list and all.
void clear_model(SemanticModel& model);

}  // namespace quib
