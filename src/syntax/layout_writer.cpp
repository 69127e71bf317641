// The blank-line table and the writing of items, metadata runs and group indentation.
#include "syntax/layout_writer.h"

#include <algorithm>
#include <array>

namespace quib {
namespace {

enum class Blank : uint8_t {
  No,    // never a blank line
  Yes,   // always one
  Kept,  // one exactly when the source had one
};

constexpr size_t kKinds = 6;  // every LayoutItemKind but None

// Rows: the previous item (None first, then by value); columns: the new item by value
// (Directive, Comment, Metadata, GroupOpen, GroupClose, Task).
//
// Metadata sticks to whatever follows it: a blank line after metadata is dropped, so loose
// metadata attaches to the next task or group, which is the layout's intent. Between two runs
// of metadata a blank line the source had is kept: pressed together, the two runs would be
// sorted as one on the next run, and the output would not be stable.
constexpr std::array<std::array<Blank, kKinds>, kKinds + 1> kBlankTable = {{
    /* None      */ {Blank::Kept, Blank::Kept, Blank::No, Blank::Kept, Blank::No, Blank::Kept},
    /* Directive */ {Blank::No, Blank::Yes, Blank::Yes, Blank::Yes, Blank::No, Blank::Yes},
    /* Comment   */ {Blank::Kept, Blank::Kept, Blank::No, Blank::Kept, Blank::No, Blank::Kept},
    /* Metadata  */ {Blank::No, Blank::No, Blank::Kept, Blank::No, Blank::No, Blank::No},
    /* GroupOpen */ {Blank::Yes, Blank::Yes, Blank::Yes, Blank::Yes, Blank::No, Blank::Yes},
    /* GroupClose*/ {Blank::Yes, Blank::Yes, Blank::Yes, Blank::Yes, Blank::No, Blank::Yes},
    /* Task      */ {Blank::Yes, Blank::Yes, Blank::Yes, Blank::Yes, Blank::No, Blank::Yes},
}};

size_t row_of(LayoutItemKind kind) {
  return kind == LayoutItemKind::None ? 0 : static_cast<size_t>(kind) + 1;
}

uint8_t column_of(LayoutItemKind kind) {
  QUIB_ASSERT(kind != LayoutItemKind::None, "only real items are written");
  return static_cast<uint8_t>(kind);
}

}  // namespace

void LayoutWriter::write_mark(std::string_view mark) {
  QUIB_ASSERT(out_.empty(), "a byte order mark can only start the document");
  out_ += mark;
  mark_size_ = out_.size();
}

void LayoutWriter::line_break() {
  flush_metadata();
  ++blank_lines_;
}

void LayoutWriter::defer_metadata(uint8_t sort_key, std::string_view text) {
  pending_.push_back({sort_key, pending_text_.size(), text.size()});
  pending_text_ += text;
}

void LayoutWriter::flush_metadata() {
  if (pending_.empty()) return;
  const auto by_key = [](const PendingMetadata& a, const PendingMetadata& b) {
    return a.sort_key < b.sort_key;
  };
  // Most runs are one line or already in order; the stable sort would allocate its buffer
  // for them all the same.
  if (!std::is_sorted(pending_.begin(), pending_.end(), by_key)) {
    std::stable_sort(pending_.begin(), pending_.end(), by_key);
  }
  for (const PendingMetadata& line : pending_) {
    emit_item(LayoutItemKind::Metadata,
              std::string_view(pending_text_).substr(line.start, line.size));
  }
  pending_.clear();
  pending_text_.clear();
}

bool LayoutWriter::wants_blank_line(LayoutItemKind kind) const {
  switch (kBlankTable[row_of(previous_)][column_of(kind)]) {
    case Blank::No:
      return false;
    case Blank::Yes:
      return true;
    case Blank::Kept:
      // A comment's own line break is counted too; only a second one is a blank line.
      return blank_lines_ >= (previous_ == LayoutItemKind::Comment ? 2u : 1u);
  }
  return false;
}

void LayoutWriter::emit_item(LayoutItemKind kind, std::string_view text) {
  if (kind == LayoutItemKind::GroupOpen || kind == LayoutItemKind::GroupClose) in_group_ = false;
  // Every item ends with a line feed, so the text never needs one here; a blank line needs
  // something before it.
  if (!nothing_written() && wants_blank_line(kind)) out_ += '\n';
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (in_group_) {
    append_indented(out_, text);
  } else {
    out_ += text;
  }
  out_ += '\n';
  if (kind == LayoutItemKind::GroupOpen) in_group_ = true;
  previous_ = kind;
  blank_lines_ = 0;
}

std::string LayoutWriter::finish() && {
  flush_metadata();
  QUIB_ASSERT(nothing_written() || (out_.ends_with('\n') && !out_.ends_with("\n\n")),
              "formatted text must end with exactly one line feed");
  return std::move(out_);
}

}  // namespace quib
