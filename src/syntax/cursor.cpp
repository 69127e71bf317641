// The token cursor: tokenizes a text from a line start to its end, finding most token starts a
// block of bytes at a time and asking `lex` for the rest, and applies the only context the
// lexer has, whether a token starts a line. It does not look at items or grammar.
#include "syntax/cursor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "syntax/assert.h"
#include "syntax/lex.h"

namespace quib {
namespace {

constexpr size_t kRawClassCount = static_cast<size_t>(RawClass::Error) + 1;

// The kind of each raw class, by whether the token starts a line: only a blank run differs
// (Indent at a line start, Whitespace elsewhere). `group` is told apart by the cursor.
constexpr std::array<std::array<SyntaxKind, kRawClassCount>, 2> kKindOfRaw = [] {
  std::array<std::array<SyntaxKind, kRawClassCount>, 2> table{};
  constexpr std::array<SyntaxKind, kRawClassCount> kinds = {
      SyntaxKind::Bang,          SyntaxKind::Colon,        SyntaxKind::Question,
      SyntaxKind::Ampersand,     SyntaxKind::Equals,       SyntaxKind::At,
      SyntaxKind::LParen,        SyntaxKind::RParen,       SyntaxKind::LBracket,
      SyntaxKind::RBracket,      SyntaxKind::LBrace,       SyntaxKind::RBrace,
      SyntaxKind::Comma,         SyntaxKind::Word,         SyntaxKind::Whitespace,
      SyntaxKind::Newline,       SyntaxKind::Comment,      SyntaxKind::String,
      SyntaxKind::ByteOrderMark, SyntaxKind::ShellKeyword, SyntaxKind::ShellTildeEquals,
      SyntaxKind::Unknown,
  };
  table[0] = kinds;
  table[1] = kinds;
  table[1][static_cast<size_t>(RawClass::Blank)] = SyntaxKind::Indent;
  return table;
}();
static_assert(kKindOfRaw[0][static_cast<size_t>(RawClass::Comma)] == SyntaxKind::Comma &&
                  kKindOfRaw[0][static_cast<size_t>(RawClass::Error)] == SyntaxKind::Unknown,
              "raw class to kind table must follow the RawClass order");

// Quibfiles average about two and a half bytes per token (single spaces, punctuation and
// one-character Unknown tokens are frequent), so reserving one token per two bytes makes
// regrowth rare: moving half a list of tokens costs more than the unused tail.
constexpr size_t kBytesPerTokenEstimate = 2;

// The kind of the one-byte token that a byte always is, whatever stands around it: a
// punctuation mark, a line feed, or an ASCII byte no rule accepts (digits, `$`, `.`, `/`...);
// Eof for every other byte.
constexpr std::array<SyntaxKind, 256> kOneByteKind = [] {
  std::array<SyntaxKind, 256> table{};
  table.fill(SyntaxKind::Eof);
  constexpr std::string_view punctuation = "!:?&=@()[]{},";
  for (size_t i = 0; i < punctuation.size(); ++i) {
    table[static_cast<uint8_t>(punctuation[i])] = kKindOfRaw[0][i];
  }
  table['\n'] = SyntaxKind::Newline;
  for (int c = 0; c < 0x80; ++c) {
    const bool word_start = is_word_start_byte(static_cast<unsigned char>(c));
    const bool other_rule = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#' || c == '"';
    if (!word_start && !other_rule && table[c] == SyntaxKind::Eof) table[c] = SyntaxKind::Unknown;
  }
  return table;
}();

// The kind of a token that the block scan starts at a byte it does not hand to the recogniser:
// the one-byte kinds, Word at a word start and Whitespace at a blank (Indent is told apart by
// the line-start state, keywords by their text).
constexpr std::array<SyntaxKind, 256> kBlockStartKind = [] {
  std::array<SyntaxKind, 256> table = kOneByteKind;
  for (int c = 0; c < 0x80; ++c) {
    if (is_word_start_byte(static_cast<unsigned char>(c))) table[c] = SyntaxKind::Word;
  }
  table[' '] = SyntaxKind::Whitespace;
  table['\t'] = SyntaxKind::Whitespace;
  return table;
}();

constexpr uint32_t kBlockBytes = 64;

// The byte classes of one block, one bit per byte (bit i for the block's byte i). `word` bytes
// continue a word (letters, digits, `_`, `-`), `word_start` bytes may also begin one (all but
// the digits), `blank` bytes are spaces and tabs, and `special` bytes begin tokens whose
// extent the recogniser decides: `#`, `"`, CR and every non-ASCII byte. Every other byte is a
// one-byte token.
struct BlockClasses {
  uint64_t word = 0;
  uint64_t word_start = 0;
  uint64_t blank = 0;
  uint64_t special = 0;
};

#if defined(__SSE2__)
// Bit per byte of sixteen bytes whose lanes are all-ones or all-zeros.
uint64_t lane_bits(__m128i lanes) {
  return static_cast<uint16_t>(_mm_movemask_epi8(lanes));
}

// Lanes of `v` within [low, low + span], as unsigned bytes.
__m128i in_range(__m128i v, char low, char span) {
  const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(low));
  return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(span)), shifted);
}

BlockClasses classify_block(const char* p) {
  BlockClasses out;
  for (uint32_t lane = 0; lane < kBlockBytes; lane += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lane));
    const auto is = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const __m128i letter = in_range(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 25);
    const __m128i start = _mm_or_si128(letter, _mm_or_si128(is('_'), is('-')));
    const __m128i word = _mm_or_si128(start, in_range(v, '0', 9));
    const __m128i blank = _mm_or_si128(is(' '), is('\t'));
    const __m128i special =
        _mm_or_si128(_mm_or_si128(is('#'), is('"')),
                     _mm_or_si128(is('\r'), _mm_cmplt_epi8(v, _mm_setzero_si128())));
    out.word |= lane_bits(word) << lane;
    out.word_start |= lane_bits(start) << lane;
    out.blank |= lane_bits(blank) << lane;
    out.special |= lane_bits(special) << lane;
  }
  return out;
}
#else
BlockClasses classify_block(const char* p) {
  BlockClasses out;
  for (uint32_t i = 0; i < kBlockBytes; ++i) {
    const auto c = static_cast<uint8_t>(p[i]);
    const SyntaxKind kind = kBlockStartKind[c];
    const uint64_t bit = uint64_t{1} << i;
    if (is_word_start_byte(c)) out.word_start |= bit;
    if (is_word_byte(c)) out.word |= bit;
    if (kind == SyntaxKind::Whitespace) out.blank |= bit;
    if (kind == SyntaxKind::Eof) out.special |= bit;
  }
  return out;
}
#endif

// What a block passes on to the next when a token runs on across the boundary: the state of
// the block's last byte. At a token boundary everything is false.
struct BlockCarry {
  bool word = false;        // a word byte
  bool in_word = false;     // a byte of a Word token
  bool lead_digit = false;  // a digit not inside a word (a one-byte token)
  bool blank = false;
};

// Whether the word at `start` is exactly `keyword`.
bool word_is(std::string_view text, uint32_t start, std::string_view keyword) {
  const size_t end = start + keyword.size();
  return text.size() >= end && text.substr(start, keyword.size()) == keyword &&
         (end == text.size() || !is_word_byte(static_cast<unsigned char>(text[end])));
}

// Drives the tokenizer over the text from `begin`, a line start, and reports each token to
// `sink` as `add(kind, start)`, Eof excluded; a token ends where the next one starts (or at the
// text's end). Before each block `sink.make_room(64)` is called: a block adds at most 64 tokens.
//
// The text is read in blocks of 64 bytes whose byte classes are found all at once; the start of
// every word, blank run and one-byte token follows from them by bit operations, so the common
// tokens cost no branch on their bytes. A word is a run of word bytes from its first
// non-digit: digits before it are one-byte tokens each, which is the recogniser's longest match
// read from the left. Special bytes go to the recogniser, which gives their token's end; the
// block's classes stay valid after it because such a token never ends inside a word or a blank
// run. A token that runs past the block's end carries its state into the next block.
template <typename Sink>
void for_each_token(std::string_view text, uint32_t begin, Sink& sink) {
  QUIB_ASSERT(text.size() < (uint64_t{1} << 32), "documents must be shorter than 4 GiB");
  const auto size = static_cast<uint32_t>(text.size());
  // Invariant: true exactly at `begin` and right after a Newline token.
  bool at_line_start = true;
  BlockCarry carry;
  char tail[kBlockBytes];
  uint32_t base = begin;
  while (base < size) {
    const uint32_t count = std::min(kBlockBytes, size - base);
    const char* bytes = text.data() + base;
    if (count < kBlockBytes) {
      std::memset(tail, 0, sizeof tail);
      std::memcpy(tail, bytes, count);
      bytes = tail;
    }
    const BlockClasses c = classify_block(bytes);
    sink.make_room(kBlockBytes);
    const uint64_t valid = count == kBlockBytes ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    const uint64_t digit = c.word & ~c.word_start;
    const uint64_t run_start = c.word & ~((c.word << 1) | uint64_t{carry.word});
    const uint64_t lead_seed = (run_start & digit) | (uint64_t{carry.lead_digit} & digit & 1);
    const uint64_t lead_digit = digit & ~(digit + lead_seed);
    const uint64_t in_word = c.word & ~lead_digit;
    const uint64_t word_start = c.word_start & ~((in_word << 1) | uint64_t{carry.in_word});
    const uint64_t blank_start = c.blank & ~((c.blank << 1) | uint64_t{carry.blank});
    const uint64_t one_byte = valid & ~(c.word | c.blank | c.special);
    uint64_t events = (one_byte | lead_digit | word_start | blank_start | c.special) & valid;

    uint32_t next_base = base + count;
    carry = BlockCarry{.word = (c.word >> 63) != 0,
                       .in_word = (in_word >> 63) != 0,
                       .lead_digit = (lead_digit >> 63) != 0,
                       .blank = (c.blank >> 63) != 0};
    while (events != 0) {
      const auto bit = static_cast<uint32_t>(std::countr_zero(events));
      const uint32_t start = base + bit;
      uint32_t end = 0;  // set for a token whose end is known here and may pass other events
      SyntaxKind kind;
      if ((c.special >> bit) & 1) {
        const RawToken raw = lex(text, start);
        kind = kKindOfRaw[at_line_start][static_cast<size_t>(raw.raw)];
        end = raw.end;
      } else {
        const char first = text[start];
        kind = kBlockStartKind[static_cast<uint8_t>(first)];
        if (kind == SyntaxKind::Whitespace && at_line_start) {
          kind = SyntaxKind::Indent;
        } else if (first == 'g' && word_is(text, start, "group")) {
          kind = SyntaxKind::GroupKeyword;
        } else if (first == 's' && text.substr(start, 7) == "shell~=") {
          kind = SyntaxKind::ShellTildeEquals;
          end = start + 7;
        } else if (first == 's' && word_is(text, start, "shell")) {
          kind = SyntaxKind::ShellKeyword;
        }
      }
      sink.add(kind, start);
      at_line_start = kind == SyntaxKind::Newline;
      if (end == 0) {
        events &= events - 1;
        continue;
      }
      if (end >= base + count) {
        // The token reaches the block's end: the next block starts after it, at a boundary.
        next_base = end;
        carry = BlockCarry{};
        break;
      }
      events &= ~uint64_t{0} << (end - base);
    }
    base = next_base;
  }
}

// Where the scan writes its tokens: the kind and start lists, written in place past their
// last token, with room for a block's tokens made before each block.
class TokenSink {
 public:
  TokenSink(ScratchVector<SyntaxKind>& kinds, ScratchVector<uint32_t>& starts, size_t expected)
      : kinds_(kinds), starts_(starts) {
    kinds_.clear();
    starts_.clear();
    grow(expected);
  }
  void make_room(size_t tokens) {
    if (count_ + tokens > kinds_.size()) grow(std::max(count_ + tokens, kinds_.size() * 2));
  }
  void add(SyntaxKind kind, uint32_t start) {
    kind_slots_[count_] = kind;
    start_slots_[count_] = start;
    ++count_;
  }
  // Drops the room left over.
  void finish() {
    kinds_.resize(count_);
    starts_.resize(count_);
  }

 private:
  void grow(size_t size) {
    kinds_.resize(size);
    starts_.resize(size);
    kind_slots_ = kinds_.data();
    start_slots_ = starts_.data();
  }

  ScratchVector<SyntaxKind>& kinds_;
  ScratchVector<uint32_t>& starts_;
  SyntaxKind* kind_slots_ = nullptr;
  uint32_t* start_slots_ = nullptr;
  size_t count_ = 0;
};

// Writes token records, each with a copy of its text, straight from the scan: a token's text
// is known once the next token starts, so each record is written when its successor arrives.
class RecordSink {
 public:
  RecordSink(std::string_view text, std::vector<Token>& tokens) : text_(text), tokens_(tokens) {}
  void make_room(size_t) {}
  void add(SyntaxKind kind, uint32_t start) {
    write_pending(start);
    pending_ = true;
    kind_ = kind;
    start_ = start;
  }
  // Writes the last token, which ends at `end`, and the Eof record.
  void finish(uint32_t end) {
    write_pending(end);
    tokens_.push_back(Token{SmallText(), end, SyntaxKind::Eof});
  }

 private:
  void write_pending(uint32_t end) {
    // Braces, not emplace_back's parentheses: clang 14 cannot aggregate-initialise from
    // parentheses. Moving a SmallText is a 24-byte copy.
    if (pending_)
      tokens_.push_back(Token{SmallText(text_.substr(start_, end - start_)), start_, kind_});
  }

  std::string_view text_;
  std::vector<Token>& tokens_;
  bool pending_ = false;
  SyntaxKind kind_ = SyntaxKind::Eof;
  uint32_t start_ = 0;
};

// The kinds and starts of the tokens of the part [begin, end) of `text`, then one Eof at end.
// No token spans a line feed, so the tokens of a part that starts and ends lines are those of
// the whole text there; the scan never looks past `end`.
void collect_tokens(std::string_view text, uint32_t begin, uint32_t end,
                    ScratchVector<SyntaxKind>& kinds, ScratchVector<uint32_t>& starts) {
  TokenSink sink(kinds, starts, (end - begin) / kBytesPerTokenEstimate + kBlockBytes + 1);
  for_each_token(text.substr(0, end), begin, sink);
  sink.make_room(1);
  sink.add(SyntaxKind::Eof, end);
  sink.finish();
}

}  // namespace

std::vector<Token> tokenize(std::string_view text) {
  QUIB_ASSERT(text.size() < (uint64_t{1} << 32), "documents must be shorter than 4 GiB");
  std::vector<Token> tokens;
  tokens.reserve(text.size() / kBytesPerTokenEstimate + 1);
  RecordSink sink(text, tokens);
  for_each_token(text, 0, sink);
  sink.finish(static_cast<uint32_t>(text.size()));
  return tokens;
}

TokenList tokenize_compact(std::shared_ptr<const std::string> text) {
  const auto size = static_cast<uint32_t>(text->size());
  return tokenize_compact(std::move(text), 0, size);
}

TokenList tokenize_compact(std::shared_ptr<const std::string> text, uint32_t begin, uint32_t end) {
  QUIB_ASSERT(begin <= end && end <= text->size() && (begin == 0 || (*text)[begin - 1] == '\n') &&
                  (end == text->size() || (*text)[end - 1] == '\n'),
              "a part of a text must run from a line start to a line end");
  ScratchVector<SyntaxKind> kinds;
  ScratchVector<uint32_t> starts;
  collect_tokens(*text, begin, end, kinds, starts);
  return TokenList(std::move(text), std::move(kinds), std::move(starts));
}

}  // namespace quib
