// The item loop and the item rules: splits the kind array into items (directive, metadata,
// group line, task, stray token), decides validity, and hands each item to the builder.
#include "syntax/parse.h"

#include <algorithm>
#include <cstring>

#include "syntax/assert.h"
#include "syntax/ast_view.h"
#include "syntax/builder.h"
#include "syntax/cursor.h"
#include "syntax/header_scan.h"
#include "syntax/parallel.h"
#include "syntax/recover.h"
#include "syntax/split_point.h"

namespace quib {
namespace {

using K = SyntaxKind;

// What one window of an item scan settled: the bytes its committed items (with the trivia
// before them) cover, and the group state after them.
struct WindowScan {
  uint32_t bytes = 0;
  bool inside_group = false;
};

// Where the items of a parse go: the tree being built, inside its open Document node, and the
// diagnostics of malformed items. Outlives the parsers of the windows that feed it.
struct ItemSink {
  explicit ItemSink(size_t expected_tokens) : builder(expected_tokens) {
    builder.start_node(K::Document);
  }
  // A sink whose tree is built in the tail of `lender`'s arena buffer.
  ItemSink(ItemSink& lender, size_t expected_tokens) : builder(lender.builder, expected_tokens) {
    builder.start_node(K::Document);
  }
  GreenNodePtr finish() {
    builder.finish_node();
    return builder.finish();
  }

  GreenBuilder builder;
  std::vector<Diagnostic> diagnostics;
};

// How building the items of one window ended.
struct WindowBuilt {
  // An item or trivia token at or after the stop offset ended the walk; `at_stop` when it
  // starts exactly there.
  bool reached_stop = false;
  bool at_stop = false;
  // Where the items built so far end, a line start, and the group state there: where the next
  // window starts when the walk ended at an item the window could not settle.
  uint32_t next = 0;
  bool inside_group = false;
};

class Parser {
 public:
  explicit Parser(std::shared_ptr<const std::string> text, bool inside_group = false)
      : source_(text), tokens_(tokenize_compact(std::move(text))), inside_group_(inside_group) {}
  // A parser of the window [begin, end) of `text`, which starts and ends a line, with the group
  // state the whole text's parser has at `begin`.
  Parser(std::shared_ptr<const std::string> text, uint32_t begin, uint32_t end, bool inside_group)
      : source_(text),
        tokens_(tokenize_compact(std::move(text), begin, end)),
        inside_group_(inside_group) {}

  ParseResult run() {
    ItemSink sink(tokens_.size());
    build_window(sink, UINT32_MAX, /*last=*/true);
    return ParseResult{.tokens = std::move(tokens_),
                       .diagnostics = std::move(sink.diagnostics),
                       .root = SyntaxNode::new_root(sink.finish(), std::move(source_))};
  }

  // Builds the items and trivia tokens of the window that start before `stop` into `sink`, in
  // order. Unless the window is the `last` one, which ends the text, an item is built only once
  // it is settled: classifying it reads at most to the end of the line after its end, so the
  // window must hold that line. The walk ends at the first item the window cannot settle; the
  // items since the last line start where an item begins are then left to the next window,
  // which starts at that line.
  WindowBuilt build_window(ItemSink& sink, uint32_t stop, bool last) {
    sink_ = &sink;
    pending_.clear();
    WindowBuilt built{.next = tokens_.range(0).start, .inside_group = inside_group_};
    bool group_before = inside_group_;  // the group state after the last item taken in
    uint32_t line_break = 0;            // the first Newline at or after the last item's end
    const auto ends_walk = [&](uint32_t token) {
      const uint32_t start = tokens_.range(token).start;
      if (start < stop) return false;
      built.reached_stop = true;
      built.at_stop = start == stop;
      return true;
    };
    for_each_item(
        [&](uint32_t trivia) {
          if (ends_walk(trivia)) return false;
          pending_.push_back({trivia, std::nullopt});
          return true;
        },
        [&](uint32_t first, const ClassifiedItem& item) {
          if (ends_walk(first)) return false;
          if (const std::optional<uint32_t> line = line_start_of(first)) {
            build_pending_before(*line);
            built.next = tokens_.range(*line).start;
            built.inside_group = group_before;
          }
          if (!last && !settled(first + item.count, line_break)) return false;
          pending_.push_back({first, item});
          group_before = inside_group_;
          return true;
        });
    if (built.reached_stop || last) {
      build_pending_before(static_cast<uint32_t>(tokens_.size()));
      built.inside_group = group_before;
    }
    inside_group_ = built.inside_group;
    return built;
  }

  // Classifies the items of a window of a larger text; `base` is the window's offset in that
  // text. An item's classification reads at most to the end of the line on which it ends, so
  // an item is settled once a line break follows its end inside the window; in the `last`
  // window every item is. Settled items are committed, in order, whenever the next item
  // begins a line after nothing but blanks, so that the next window starts at that line, where
  // the lexer also starts a line (as `build_window` resumes).
  WindowScan scan_window(uint32_t base, bool last, std::vector<ScannedItem>& out) {
    WindowScan settled{0, inside_group_};
    std::vector<ScannedItem> pending;
    bool group_before = inside_group_;  // the group state before the current item
    uint32_t line_break = 0;            // the first Newline at or after the current item's end
    const auto commit = [&](WindowScan at) {
      out.insert(out.end(), pending.begin(), pending.end());
      pending.clear();
      settled = at;
    };
    for_each_item([](uint32_t) { return true; },
                  [&](uint32_t first, const ClassifiedItem& item) {
                    if (const std::optional<uint32_t> line = line_start_of(first)) {
                      commit({tokens_.range(*line).start, group_before});
                    }
                    const uint32_t end = first + item.count;
                    if (!last) {
                      line_break =
                          find_kind(tokens_.kinds(), std::max(line_break, end), K::Newline);
                      if (line_break == tokens_.size()) return false;
                    }
                    pending.push_back(scanned(base, first, item));
                    group_before = inside_group_;
                    return true;
                  });
    if (last) commit({static_cast<uint32_t>(source_->size()), inside_group_});
    return settled;
  }

 private:
  static bool is_well_formed(const ClassifiedItem& item) {
    return !item.malformed && item.item_class != ItemClass::Stray;
  }

  ScannedItem scanned(uint32_t base, uint32_t first, const ClassifiedItem& item) const {
    const uint32_t end = first + item.count;
    const auto shifted = [&](TextRange range) {
      return TextRange(base + range.start, base + range.end);
    };
    ScannedItem out{
        .item_class = item.item_class,
        .well_formed = is_well_formed(item),
        .range = shifted(TextRange(tokens_.range(first).start, tokens_.range(end - 1).end)),
        .first_word = std::nullopt};
    for (uint32_t i = first; i < end; ++i) {
      if (tokens_.kind(i) != K::Word) continue;
      out.first_word = shifted(tokens_.range(i));
      break;
    }
    return out;
  }

  // Classifies the top-level items in order: `on_trivia(i)` for each token between items,
  // `on_item(first, item)` for each item, after the group state has taken the item in; a
  // false answer from either stops the walk. Building the tree and scanning share this loop, so
  // both classify every item alike.
  template <typename OnTrivia, typename OnItem>
  void for_each_item(OnTrivia&& on_trivia, OnItem&& on_item) {
    KindCursor c(tokens_.kinds());
    for (;;) {
      while (kTriviaKinds.contains(c.peek())) {
        if (!on_trivia(c.pos())) return;
        c.advance();
      }
      if (c.at_eof()) break;
      const ClassifiedItem item = classify(c);
      QUIB_ASSERT(item.count >= 1, "top-level parser should always consume a non-EOF item");
      if (is_well_formed(item) && item.item_class == ItemClass::GroupOpen) inside_group_ = true;
      if (is_well_formed(item) && item.item_class == ItemClass::GroupClose) inside_group_ = false;
      if (!on_item(c.pos(), item)) break;
      c = c.at_pos(c.pos() + item.count);
    }
  }

  // One classified item, or a trivia token (no item), waiting to be built.
  struct Pending {
    uint32_t first;
    std::optional<ClassifiedItem> item;
  };

  // The first token of the line on which the item at `first` starts, when only blanks come
  // before it on that line and the line follows a line feed (a window never starts after a
  // lone carriage return).
  std::optional<uint32_t> line_start_of(uint32_t first) const {
    uint32_t i = first;
    while (i > 0 && kSpaceKinds.contains(tokens_.kind(i - 1))) --i;
    if (i == 0) return i;
    if (tokens_.kind(i - 1) == K::Newline && tokens_.text(i - 1).back() == '\n') return i;
    return std::nullopt;
  }

  // Whether the window holds the whole line that starts at or after token `end`. `line_break`
  // carries the search from item to item, so many items on one long line cost one scan of it.
  bool settled(uint32_t end, uint32_t& line_break) const {
    line_break = find_kind(tokens_.kinds(), std::max(line_break, end), K::Newline);
    return line_break < tokens_.size();
  }

  // Builds the pending items and tokens that come before token `end`.
  void build_pending_before(uint32_t end) {
    size_t done = 0;
    for (; done < pending_.size() && pending_[done].first < end; ++done) {
      const Pending& entry = pending_[done];
      if (entry.item) {
        build(entry.first, *entry.item);
      } else {
        add_token(entry.first);
      }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  }

  void add_token(uint32_t i) { sink_->builder.token(tokens_.kind(i), tokens_.text(i)); }

  ClassifiedItem classify(KindCursor c) const {
    switch (c.peek()) {
      case K::Bang:
        return directive(c);
      case K::LBracket:
        if (auto item = metadata(c)) return *item;
        break;
      case K::GroupKeyword:
        if (auto item = group_open(c)) return *item;
        break;
      case K::RBrace:
        return group_close(c);
      case K::Word:
        return task(c);
      default:
        break;
    }
    return ClassifiedItem{.item_class = ItemClass::Stray, .malformed = true, .count = 1};
  }

  static ClassifiedItem line_item(ItemClass item_class, bool malformed, KindCursor start) {
    KindCursor end = start;
    end.skip_line();
    return ClassifiedItem{
        .item_class = item_class, .malformed = malformed, .count = end.pos() - start.pos()};
  }

  // A `!` line; its name and value are not looked at here.
  static ClassifiedItem directive(KindCursor c) {
    KindCursor after_bang = c.at_pos(c.pos() + 1);
    const bool malformed = !after_bang.line_has_content() || c.line_contains(K::Comment);
    return line_item(ItemClass::Directive, malformed, c);
  }

  // `[key]` written tight, then a text that does not start with a comment or a lone `{`.
  static std::optional<ClassifiedItem> metadata(KindCursor c) {
    if (c.peek(1) != K::Word || c.peek(2) != K::RBracket) return std::nullopt;
    KindCursor value = c.at_pos(c.pos() + 3);
    value.skip({K::Whitespace});
    const K first = value.peek();
    if (kLineEndKinds.contains(first) || first == K::Comment) return std::nullopt;
    if (first == K::LBrace && value.peek(1) != K::LBrace) return std::nullopt;
    return line_item(ItemClass::Metadata, false, c);
  }

  static std::optional<ClassifiedItem> group_open(KindCursor c) {
    if (c.peek(1) != K::Whitespace || c.peek(2) != K::Word) return std::nullopt;
    KindCursor rest = c.at_pos(c.pos() + 3);
    rest.skip({K::Whitespace});
    bool valid = rest.at(K::LBrace);
    if (valid) {
      rest.advance();
      rest.skip({K::Whitespace});
      valid = rest.at_line_end();
    }
    return line_item(ItemClass::GroupOpen, !valid, c);
  }

  static ClassifiedItem group_close(KindCursor c) {
    KindCursor rest = c.at_pos(c.pos() + 1);
    rest.skip({K::Whitespace});
    return line_item(ItemClass::GroupClose, !rest.at_line_end(), c);
  }

  // True when the line at `c` (at a line start) ends a command block.
  bool ends_command_block(KindCursor c) const {
    if (!c.at(K::Indent)) {
      static constexpr KindSet kColumnZeroStops{K::Word,     K::Comment, K::GroupKeyword, K::Bang,
                                                K::LBracket, K::RBrace,  K::Eof};
      return kColumnZeroStops.contains(c.peek());
    }
    if (c.is_group_boundary_line()) return true;
    if (!inside_group_) return false;
    c.skip(kSpaceKinds);
    switch (c.peek()) {
      case K::Comment:
      case K::GroupKeyword:
      case K::Bang:
      case K::LBracket:
        return true;
      case K::Word:
        c.advance();
        c.skip({K::Whitespace});
        return c.at(K::LParen);
      default:
        return false;
    }
  }

  // Consumes the rest of the line after an accepted colon (only blanks may follow), then the
  // command block. Returns false when something other than blanks followed the colon.
  bool finish_after_colon(KindCursor& c) const {
    c.skip(kSpaceKinds);
    const bool clean = c.at_line_end();
    c.skip_line();
    while (!ends_command_block(c)) c.skip_line();
    return clean;
  }

  ClassifiedItem task(KindCursor c) const {
    const uint32_t start = c.pos();
    ClassifiedItem item{.item_class = ItemClass::Task};
    auto finish = [&](const KindCursor& end) {
      item.count = end.pos() - start;
      if (!item.has_body_marker) item.header_end = item.count;
      return item;
    };
    auto colon_at = [&](const KindCursor& at) {
      item.has_body_marker = true;
      item.header_end = at.pos() + 1 - start;
    };

    c.advance();  // the name
    HeaderScan scan;
    // The first header line, continued through an open parameter list.
    for (;;) {
      const K kind = c.peek();
      if (kind == K::Eof) break;
      if (kind == K::Newline) {
        if (item.malformed || !scan.in_open_parameter_list()) break;
        KindCursor next = c.at_pos(c.pos() + 1);
        if (!next.at(K::Indent) && !next.at(K::RParen)) {
          item.malformed = true;
          return finish(next);
        }
        c = next;
        continue;
      }
      if (item.malformed) {
        // A malformed header still takes its command block when its line has a colon.
        c.advance();
        if (kind == K::Colon) {
          finish_after_colon(c);
          return finish(c);
        }
        continue;
      }
      const HeaderScan::Result result = scan.feed(kind);
      if (result == HeaderScan::Result::Colon) {
        colon_at(c);
        c.advance();
        if (!finish_after_colon(c)) item.malformed = true;
        return finish(c);
      }
      if (result == HeaderScan::Result::Error) item.malformed = true;
      c.advance();
    }

    // The header line ended without a colon.
    if (!item.malformed && !scan.can_end()) item.malformed = true;
    c.skip_line();
    if (item.malformed || !scan.had_parameters()) return finish(c);

    // A head with a parameter list may continue with indented clause lines.
    for (;;) {
      if (ends_command_block(c) || !c.line_has_content()) return finish(c);
      HeaderScan line(/*continuation=*/true);
      bool line_failed = false;
      while (!c.at_line_end()) {
        const K kind = c.peek();
        const bool was_main = line.in_main();
        const HeaderScan::Result result =
            line_failed ? HeaderScan::Result::Continue : line.feed(kind);
        if (result == HeaderScan::Result::Colon) {
          if (!item.malformed) colon_at(c);
          c.advance();
          if (!finish_after_colon(c)) item.malformed = true;
          return finish(c);
        }
        if (result == HeaderScan::Result::Error) {
          line_failed = true;
          item.malformed = true;
          if (was_main) item.missing_colon = true;
        }
        c.advance();
      }
      if (!line_failed && !line.can_end()) item.malformed = true;
      c.skip_line();
    }
  }

  void build(uint32_t first, const ClassifiedItem& item) {
    build_item(sink_->builder, ItemTokens{tokens_, first, item.count}, item);
    if (!is_well_formed(item)) report(item, tokens_.range(first));
  }

  void report(const ClassifiedItem& item, TextRange first_token) {
    std::string_view code = "parse.unexpected-token";
    std::string_view message = "unexpected text";
    switch (item.item_class) {
      case ItemClass::Directive:
        code = "parse.malformed-directive";
        message = "invalid directive";
        break;
      case ItemClass::GroupOpen:
      case ItemClass::GroupClose:
        code = "parse.malformed-namespace-header";
        message = "invalid group";
        break;
      case ItemClass::Task:
        code = item.missing_colon ? "parse.missing-task-colon" : "parse.malformed-task-header";
        message = item.missing_colon ? "missing ':' before command" : "invalid task header";
        break;
      case ItemClass::Metadata:
      case ItemClass::Stray:
        break;
    }
    sink_->diagnostics.push_back(Diagnostic::syntax_error(code, message, first_token));
  }

  // The parsed text, shared with the token list and handed to the tree's root.
  std::shared_ptr<const std::string> source_;
  TokenList tokens_;
  // Where build_window puts the items; a scan builds nothing.
  ItemSink* sink_ = nullptr;
  std::vector<Pending> pending_;
  bool inside_group_ = false;
};

// Tokens are held for this much text at a time (more while one item is longer).
constexpr uint32_t kWindowBytes = 64 * 1024;

// Builds the items of the part [begin, end) of `text` that start before `stop` into `sink`, a
// window at a time, so that only one window's tokens are held at once. `begin` starts a line
// and `end` ends one; `inside_group` is the group state at `begin`. The result is that of the
// part's final window.
WindowBuilt build_part(const std::shared_ptr<const std::string>& text, uint32_t begin, uint32_t end,
                       uint32_t stop, bool inside_group, ItemSink& sink, uint32_t window_bytes) {
  uint64_t window = window_bytes;
  for (;;) {
    uint32_t window_end = end;
    if (end - begin > window) {
      const char* from = text->data() + begin + window;
      if (const void* feed = std::memchr(from, '\n', end - begin - window)) {
        window_end = static_cast<uint32_t>(static_cast<const char*>(feed) - text->data()) + 1;
      }
    }
    Parser parser(text, begin, window_end, inside_group);
    const WindowBuilt built = parser.build_window(sink, stop, window_end == text->size());
    if (built.reached_stop || window_end == end) return built;
    if (built.next == begin) {
      // One item longer than the window. The window already ran on to a line end, so it must
      // reach past `window_end`, or the next one would be the same window lexed again.
      window = std::max<uint64_t>(window * 2, window_end - begin);
      continue;
    }
    begin = built.next;
    inside_group = built.inside_group;
    window = window_bytes;
  }
}

}  // namespace

// The items before `resume`, built into `sink`.
struct ParsedPrefix {
  ItemSink sink;
  ScanStart resume;
};

namespace {

// About how many tokens `bytes` of text make, to size a tree's arena.
size_t expected_tokens(size_t bytes) {
  return bytes * 2 / 5;
}

// Below this size a text is parsed on the calling thread alone: starting a helper thread
// and joining the parts would cost more than the parallel work saves.
constexpr size_t kTwoPartParseBytes = 256 * 1024;

// How parses in two parts have lately divided between the threads.
DivisionBalance& parse_balance() {
  // Never destroyed: a parse may run while static objects are destroyed.
  static auto* balance = new DivisionBalance();
  return *balance;
}

// The tree of `text` built from the part before `split` and the part after it, parsed on two
// threads; none when the first part's items do not end exactly at the split in the group state
// the second part was parsed with (it then read its text out of context).
// `helper_first`, when given, runs on the helper thread before its part, work worth about
// `helper_first_bytes` bytes of parsing.
std::optional<ParseResult> parse_in_two_parts(const std::shared_ptr<const std::string>& text,
                                              SplitPoint split, uint32_t window_bytes,
                                              const std::function<void()>* helper_first,
                                              size_t helper_first_bytes, ParsedPrefix* prefix) {
  const auto size = static_cast<uint32_t>(text->size());
  // The first part reads the line at the split too: that is as far as classifying the item
  // before the split may look.
  const void* feed = std::memchr(text->data() + split.offset, '\n', size - split.offset);
  const uint32_t first_end =
      feed ? static_cast<uint32_t>(static_cast<const char*>(feed) - text->data()) + 1 : size;
  // The first part's tree takes in the second's, so it is sized for the whole text (and so is
  // the one to take a spare buffer of about that size). The second part is built in the tail
  // of that buffer: joining the parts then moves it down next to the first part's elements
  // instead of copying it out of fresh memory, a page fault per page of a large document.
  std::optional<ItemSink> own_first;
  ItemSink& first = prefix ? prefix->sink : own_first.emplace(expected_tokens(size));
  if (prefix) first.builder.reserve(expected_tokens(size));
  const ScanStart first_start = prefix ? prefix->resume : ScanStart{};
  ItemSink second(first, expected_tokens(size - split.offset));
  WindowBuilt first_built;
  GreenNodePtr second_tree;
  std::vector<Diagnostic> second_diagnostics;
  const double first_share = static_cast<double>(split.offset - first_start.offset) /
                             static_cast<double>(size - first_start.offset + helper_first_bytes);
  run_divided(
      parse_balance(), first_share,
      [&] {
        first_built = build_part(text, first_start.offset, first_end, split.offset,
                                 first_start.inside_group, first, window_bytes);
      },
      [&] {
        if (helper_first) (*helper_first)();
        build_part(text, split.offset, size, UINT32_MAX, split.inside_group, second, window_bytes);
        second_tree = second.finish();
        second_diagnostics = std::move(second.diagnostics);
      });
  if (!first_built.at_stop || first_built.inside_group != split.inside_group) return std::nullopt;
  first.builder.adopt_children(std::move(second_tree));
  std::vector<Diagnostic>& diagnostics = first.diagnostics;
  diagnostics.insert(diagnostics.end(), std::make_move_iterator(second_diagnostics.begin()),
                     std::make_move_iterator(second_diagnostics.end()));
  return ParseResult{.tokens = TokenList(),
                     .diagnostics = std::move(diagnostics),
                     .root = SyntaxNode::new_root(first.finish(), text)};
}

// The tree of `text` parsed in one part, a window at a time, going on from `prefix` if given.
ParseResult parse_in_one_part(std::shared_ptr<const std::string> text, uint32_t window_bytes,
                              ParsedPrefix* prefix = nullptr) {
  const auto size = static_cast<uint32_t>(text->size());
  std::optional<ItemSink> own_sink;
  ItemSink& sink = prefix ? prefix->sink : own_sink.emplace(expected_tokens(size));
  if (prefix) sink.builder.reserve(expected_tokens(size));
  const ScanStart start = prefix ? prefix->resume : ScanStart{};
  build_part(text, start.offset, size, UINT32_MAX, start.inside_group, sink, window_bytes);
  return ParseResult{.tokens = TokenList(),
                     .diagnostics = std::move(sink.diagnostics),
                     .root = SyntaxNode::new_root(sink.finish(), std::move(text))};
}

// The first line end at or after `from` among the `final` bytes of `text`, as the end of a
// window (just past the line feed); none when those bytes hold no line feed there.
std::optional<uint32_t> window_end_in(std::string_view text, uint32_t from, size_t final) {
  if (final <= from) return std::nullopt;
  const void* feed = std::memchr(text.data() + from, '\n', final - from);
  if (!feed) return std::nullopt;
  return static_cast<uint32_t>(static_cast<const char*>(feed) - text.data()) + 1;
}

}  // namespace

void ParsedPrefixDelete::operator()(ParsedPrefix* prefix) const {
  delete prefix;
}

ParsedPrefixPtr parse_prefix(const std::string& storage,
                             const std::function<size_t(size_t wanted)>& final_bytes,
                             uint32_t window_bytes) {
  QUIB_ASSERT(storage.size() < (uint64_t{1} << 32), "documents must be shorter than 4 GiB");
  // The window parsers share their text by handle; this one owns nothing, since `storage`
  // outlives the call and no parser outlives its window.
  const std::shared_ptr<const std::string> text(std::shared_ptr<const std::string>(), &storage);
  // The tree grows as the prefix does, unless the buffer of a dropped tree is kept for it:
  // sizing it for the whole text in fresh memory would hold a second tree's memory while the
  // text's previous tree is still in use.
  ParsedPrefixPtr prefix(new ParsedPrefix{ItemSink(0), {}});
  prefix->sink.builder.reserve_from_spare(expected_tokens(storage.size()));
  ScanStart& at = prefix->resume;
  uint64_t window = window_bytes;
  for (;;) {
    // A window ends at a line end at least `window` bytes on: the parser settles an item only
    // once the window holds the line after it, and the text's end is not known yet.
    const uint64_t wanted = at.offset + window + 1;
    if (wanted > storage.size()) return prefix;
    const size_t final = final_bytes(static_cast<size_t>(wanted));
    if (final < wanted) return prefix;
    const std::optional<uint32_t> end =
        window_end_in(storage, static_cast<uint32_t>(at.offset + window), final);
    if (!end) {
      window = final - at.offset;  // no line end yet: look again once more is final
      continue;
    }
    Parser parser(text, at.offset, *end, at.inside_group);
    const WindowBuilt built = parser.build_window(prefix->sink, UINT32_MAX, /*last=*/false);
    if (built.next == at.offset) {
      window = std::max<uint64_t>(window * 2, *end - at.offset);  // one item longer than it
      continue;
    }
    at = {built.next, built.inside_group};
    window = window_bytes;
  }
}

ParseResult parse_tree(std::shared_ptr<const std::string> text) {
  return parse_tree(std::move(text), nullptr, 0, nullptr);
}

ParseResult parse_tree(std::shared_ptr<const std::string> text,
                       const std::function<void()>& helper_first, size_t helper_first_bytes) {
  return parse_tree(std::move(text), helper_first, helper_first_bytes, nullptr);
}

ParseResult parse_tree(std::shared_ptr<const std::string> text,
                       const std::function<void()>& helper_first, size_t helper_first_bytes,
                       ParsedPrefixPtr prefix) {
  const std::function<void()>* job = helper_first ? &helper_first : nullptr;
  const uint32_t start = prefix ? prefix->resume.offset : 0;
  QUIB_ASSERT(start <= text->size() && (start == 0 || (*text)[start - 1] == '\n'),
              "a prefix ends at a line start of its text");
  const size_t rest = text->size() - start;
  if (rest >= kTwoPartParseBytes) {
    // The helper's job first counts for at most half of the rest.
    const size_t helper_bytes = job ? std::min(helper_first_bytes, rest / 2) : 0;
    const auto middle = start + static_cast<size_t>(static_cast<double>(rest + helper_bytes) *
                                                    caller_share(parse_balance()));
    if (const std::optional<SplitPoint> split = find_split_point(*text, middle)) {
      if (std::optional<ParseResult> parsed =
              parse_in_two_parts(text, *split, kWindowBytes, job, helper_bytes, prefix.get())) {
        return std::move(*parsed);
      }
      // The prefix's sink holds part of a failed parse.
      return parse_in_one_part(std::move(text), kWindowBytes);
    }
  }
  if (job) (*job)();
  return parse_in_one_part(std::move(text), kWindowBytes, prefix.get());
}

ParseResult parse_tree(std::shared_ptr<const std::string> text, SplitPoint split,
                       uint32_t window_bytes) {
  QUIB_ASSERT(
      split.offset <= text->size() && (split.offset == 0 || (*text)[split.offset - 1] == '\n'),
      "a text is split at a line start");
  if (std::optional<ParseResult> parsed =
          parse_in_two_parts(text, split, window_bytes, /*helper_first=*/nullptr, 0, nullptr)) {
    return std::move(*parsed);
  }
  return parse_in_one_part(std::move(text), window_bytes);
}

ParseResult parse(std::string_view text) {
  return parse(std::make_shared<const std::string>(text));
}

ParseResult parse(std::shared_ptr<const std::string> text) {
  return Parser(std::move(text)).run();
}

void scan_items(std::string_view before, std::string_view after,
                const std::function<bool(const ScannedItem&)>& visit, size_t window_bytes,
                ScanStart from) {
  const uint64_t total = uint64_t{before.size()} + after.size();
  QUIB_ASSERT(total < (uint64_t{1} << 32), "documents must be shorter than 4 GiB");
  const auto at = [&](uint64_t offset) {
    return offset < before.size() ? before[offset] : after[offset - before.size()];
  };
  QUIB_ASSERT(from.offset <= total && (from.offset == 0 || at(from.offset - 1) == '\n'),
              "a scan starts at a line start");
  std::vector<ScannedItem> items;  // one window's, handed on and dropped
  uint64_t start = from.offset;
  bool inside_group = from.inside_group;
  size_t window = std::max<size_t>(window_bytes, 1);
  while (start < total) {
    uint64_t end = std::min<uint64_t>(total, start + window);
    // A window ends just after a line feed, so that no token is cut in two.
    while (end < total && end > start && at(end - 1) != '\n') --end;
    if (end == start) {
      window *= 2;
      continue;
    }
    // A window after the first starts with a line feed of its own: the lexer reads the window
    // as it reads the text there, at a line start but not at the start of the text, where a
    // byte order mark would be one. The feed is trivia and never part of an item.
    const uint32_t lead = start == 0 ? 0 : 1;
    auto text = std::make_shared<std::string>(lead, '\n');
    text->reserve(lead + (end - start));
    for (uint64_t i = start; i < end;) {
      const std::string_view piece =
          i < before.size() ? before.substr(i) : after.substr(i - before.size());
      const size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), end - i));
      text->append(piece.substr(0, n));
      i += n;
    }
    const bool last = end == total;
    const WindowScan settled = Parser(std::move(text), inside_group)
                                   .scan_window(static_cast<uint32_t>(start) - lead, last, items);
    for (const ScannedItem& item : items) {
      if (!visit(item)) return;
    }
    items.clear();
    if (last) break;
    if (settled.bytes <= lead) {
      window *= 2;
      continue;
    }
    start += settled.bytes - lead;
    inside_group = settled.inside_group;
  }
}

Document ParseResult::document() const {
  std::optional<Document> document = Document::cast(root);
  QUIB_ASSERT(document.has_value(), "parse root must always be a document node");
  return *document;
}

}  // namespace quib
