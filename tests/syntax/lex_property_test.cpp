// Generated-input tests of the lexer's whole-list guarantees: lossless tiling, one final Eof,
// and longest-match shapes per kind. A fixed seed per test makes every failure reproducible.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/fragments.h"
#include "support/recognised_tokens.h"
#include "syntax/cursor.h"
#include "syntax/lex.h"

namespace quib {
namespace {

using testing_support::append_random_char;
using testing_support::Draw;
using testing_support::recognised_tokens;
using K = SyntaxKind;

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
bool is_word_continue(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

std::string random_characters(Draw& draw, uint32_t max_length) {
  std::string out;
  const uint32_t count = draw.below(max_length + 1);
  for (uint32_t i = 0; i < count; ++i) append_random_char(out, draw);
  return out;
}

// Up to `max_pieces` of `pieces`, drawn at random, with one random character instead of a piece
// about once in `random_char_one_in` draws.
std::string random_pieces(Draw& draw, std::span<const std::string_view> pieces, uint32_t max_pieces,
                          uint32_t random_char_one_in) {
  std::string out;
  const uint32_t count = draw.below(max_pieces + 1);
  for (uint32_t i = 0; i < count; ++i) {
    if (draw.below(random_char_one_in) == 0) {
      append_random_char(out, draw);
    } else {
      out += pieces[draw.below(static_cast<uint32_t>(pieces.size()))];
    }
  }
  return out;
}

std::string random_fragments(Draw& draw, uint32_t max_fragments) {
  static constexpr std::array<std::string_view, 26> kFragments = {
      "!version 0.1",
      "group ci {",
      "}",
      "build(a, b=\"x\") ? @os(\"linux\") & dep shell~=bash:",
      "    | echo {{ x }}",
      "    make all",
      "\"a\\\"b\"",
      "\"a\\\" b",
      "\"open",
      "\r",
      "\n",
      "\r\n",
      "\t",
      "    ",
      " ",
      "# comment",
      "# caf\xC3\xA9 \xF0\x9F\x98\x82",
      "\xEF\xBB\xBF",
      "[help] Build it",
      "shell",
      "shell=",
      "group",
      "!var name = \"value\"",
      "& (lint, test)",
      "rest..",
      "\xE2\x82\xAC",
  };
  return random_pieces(draw, kFragments, max_fragments, 8);
}

// Length of the UTF-8 character starting with `lead` (the input is known to be valid).
size_t char_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// The guarantees every token list must meet, for valid and invalid input alike.
void check_tiling(std::string_view input, const std::vector<Token>& tokens) {
  const auto length = static_cast<uint32_t>(input.size());
  ASSERT_FALSE(tokens.empty());
  uint32_t offset = 0;
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    const Token& token = tokens[i];
    ASSERT_NE(token.kind, SyntaxKind::Eof) << "Eof before the end, token " << i;
    ASSERT_EQ(token.range().start, offset) << "gap or overlap before token " << i;
    ASSERT_GT(token.range().end, token.range().start) << "empty token " << i;
    ASSERT_LE(token.range().end, length);
    ASSERT_EQ(token.text.view(), input.substr(offset, token.range().len())) << "token " << i;
    offset = token.range().end;
  }
  ASSERT_EQ(offset, length) << "tokens do not reach the end";
  EXPECT_EQ(tokens.back().kind, SyntaxKind::Eof);
  EXPECT_EQ(tokens.back().range(), TextRange(length, length));
  EXPECT_TRUE(tokens.back().text.empty());
}

// Longest-match and context shapes that hold for valid UTF-8 input.
void check_shapes(const std::vector<Token>& tokens) {
  bool at_line_start = true;
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    const Token& token = tokens[i];
    const std::string_view text = token.text.view();
    const std::string_view next = tokens[i + 1].text.view();
    SCOPED_TRACE("token " + std::to_string(i) + " " + std::string(kind_name(token.kind)));
    switch (token.kind) {
      case SyntaxKind::Indent:
      case SyntaxKind::Whitespace:
        EXPECT_EQ(token.kind == SyntaxKind::Indent, at_line_start);
        for (char c : text) EXPECT_TRUE(is_blank(c));
        EXPECT_TRUE(next.empty() || !is_blank(next[0])) << "blank run split";
        break;
      case SyntaxKind::Word:
      case SyntaxKind::GroupKeyword:
      case SyntaxKind::ShellKeyword:
        for (char c : text) EXPECT_TRUE(is_word_continue(c));
        EXPECT_TRUE(next.empty() || !is_word_continue(next[0])) << "word split";
        EXPECT_EQ(token.kind == SyntaxKind::GroupKeyword, text == "group");
        EXPECT_EQ(token.kind == SyntaxKind::ShellKeyword, text == "shell");
        break;
      case SyntaxKind::Comment:
        EXPECT_EQ(text[0], '#');
        EXPECT_EQ(text.find('\n'), std::string_view::npos);
        EXPECT_TRUE(next.empty() || next == "\n") << "comment must run to the line feed";
        break;
      case SyntaxKind::String:
        EXPECT_GE(text.size(), 2u);
        EXPECT_EQ(text.front(), '"');
        EXPECT_EQ(text.back(), '"');
        EXPECT_EQ(text.find('\n'), std::string_view::npos);
        break;
      case SyntaxKind::Newline:
        EXPECT_TRUE(text == "\n" || text == "\r\n" ||
                    (text == "\r" && next != "\n" && (next.empty() || next[0] != '\n')));
        break;
      case SyntaxKind::ByteOrderMark:
        EXPECT_EQ(i, 0u);
        EXPECT_EQ(text, "\xEF\xBB\xBF");
        break;
      case SyntaxKind::Unknown:
        if (text[0] == '"') {
          EXPECT_TRUE(next.empty() || next == "\n") << "unterminated string must reach the LF";
        } else {
          EXPECT_EQ(text.size(), char_length(static_cast<unsigned char>(text[0])));
        }
        break;
      default:
        EXPECT_EQ(text.size(), token.kind == SyntaxKind::ShellTildeEquals ? 7u : 1u);
        break;
    }
    at_line_start = token.kind == SyntaxKind::Newline;
  }
}

TEST(LexProperty, RandomCharactersTileAndKeepShapes) {
  Draw draw(20240611);
  for (int round = 0; round < 3000; ++round) {
    const std::string input = random_characters(draw, 64);
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<Token> tokens = tokenize(input);
    ASSERT_NO_FATAL_FAILURE(check_tiling(input, tokens));
    ASSERT_NO_FATAL_FAILURE(check_shapes(tokens));
  }
}

TEST(LexProperty, LanguageFragmentsTileAndKeepShapes) {
  Draw draw(7);
  for (int round = 0; round < 3000; ++round) {
    const std::string input = random_fragments(draw, 24);
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<Token> tokens = tokenize(input);
    ASSERT_NO_FATAL_FAILURE(check_tiling(input, tokens));
    ASSERT_NO_FATAL_FAILURE(check_shapes(tokens));
  }
}

// Arbitrary bytes are outside the server's contract but must still tile, in bounds.
TEST(LexProperty, ArbitraryBytesTile) {
  Draw draw(99);
  for (int round = 0; round < 2000; ++round) {
    std::string input(draw.below(48), '\0');
    for (char& c : input) c = static_cast<char>(draw.below(256));
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_NO_FATAL_FAILURE(check_tiling(input, tokenize(input)));
  }
}

// The cursor names bytes that always make a one-byte token by a table of its own instead of
// asking the recogniser; for every ASCII byte, at a line start and before a letter, a digit, a
// blank, a line feed, a quote or itself, both must split the text alike, and a one-byte token
// must have the kind of its raw class.
TEST(LexProperty, OneByteShortcutAgreesWithTheRecogniser) {
  const auto one_byte_kind = [](RawClass raw) {
    if (raw == RawClass::LineBreak) return K::Newline;
    if (raw == RawClass::Error) return K::Unknown;
    constexpr std::array<K, 13> kPunctuation = {
        K::Bang,   K::Colon,    K::Question, K::Ampersand, K::Equals, K::At,    K::LParen,
        K::RParen, K::LBracket, K::RBracket, K::LBrace,    K::RBrace, K::Comma,
    };
    const auto index = static_cast<size_t>(raw);
    return index < kPunctuation.size() ? kPunctuation[index] : K::Eof;
  };
  for (int byte = 0; byte < 0x80; ++byte) {
    for (const char next : {'a', '1', ' ', '\n', '"', static_cast<char>(byte)}) {
      const std::string text = {'\n', static_cast<char>(byte), next};
      SCOPED_TRACE(testing::Message() << "byte " << byte << " before " << int{next});
      const RawToken raw = lex(text, 1);
      const std::vector<Token> tokens = tokenize(text);
      ASSERT_GE(tokens.size(), 3u);
      EXPECT_EQ(tokens[1].range(), TextRange(1, raw.end));
      const K kind = one_byte_kind(raw.raw);
      if (raw.end == 2 && kind != K::Eof) {
        EXPECT_EQ(tokens[1].kind, kind);
      }
    }
  }
}

// Pieces that stress the cursor's 64-byte blocks: words, digit runs before and inside words,
// blank runs, keywords and their near misses, and tokens the recogniser ends (comments,
// strings, carriage returns, multi-byte characters) that end anywhere in a block or past it.
std::string block_text(Draw& draw, uint32_t max_pieces) {
  static constexpr std::array<std::string_view, 30> kPieces = {
      "word",
      "x",
      "12",
      "7",
      "a1b2",
      "-j8",
      "_",
      "1abc",
      "99-x",
      "  ",
      " ",
      "\t \t",
      "                                                                         ",
      "group",
      "groups",
      "shell",
      "shell~=",
      "shell=",
      "shells",
      "shell~",
      "sgroup",
      "# comment with 42 words and \"quotes\"",
      "\"str 1\"",
      "\"a\\\"b",
      "\"open",
      "\r",
      "\r\n",
      "\n",
      "\xC3\xA9",
      "$(x)/y.z",
  };
  return random_pieces(draw, kPieces, max_pieces, 6);
}

// The cursor reads 64 bytes at a time and finds most token starts by bit operations; every
// text, and every part of it from a line start, must give exactly the recogniser's tokens,
// wherever a token meets a block boundary.
TEST(LexProperty, BlockScanAgreesWithTheRecogniser) {
  Draw draw(640064);
  for (int round = 0; round < 4000; ++round) {
    std::string text = round % 3 == 0 ? random_fragments(draw, 40) : block_text(draw, 60);
    if (round % 5 == 0) text.insert(0, "\xEF\xBB\xBF");
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<std::pair<K, uint32_t>> expected = recognised_tokens(text, 0);
    const std::vector<Token> tokens = tokenize(text);
    ASSERT_EQ(tokens.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(tokens[i].kind, expected[i].first)
          << "token " << i << " of " << testing::PrintToString(text);
      ASSERT_EQ(tokens[i].range().start, expected[i].second) << "token " << i;
    }
    // A part from a later line start, up to the text's end.
    const size_t feed = text.find('\n', text.size() / 3);
    if (feed == std::string::npos) continue;
    const auto begin = static_cast<uint32_t>(feed + 1);
    const auto shared = std::make_shared<const std::string>(text);
    const TokenList part = tokenize_compact(shared, begin, static_cast<uint32_t>(text.size()));
    expected = recognised_tokens(text, begin);
    ASSERT_EQ(part.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(part.kind(i), expected[i].first) << "part token " << i;
      ASSERT_EQ(part.range(i).start, expected[i].second) << "part token " << i;
    }
  }
}

}  // namespace
}  // namespace quib
