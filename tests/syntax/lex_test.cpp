// Token-level tests of the lexer: each case is an input and the (kind, text) pairs it must give,
// with the final Eof checked separately. Control bytes are written escaped in failure output.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/cursor.h"

namespace quib {
namespace {

using K = SyntaxKind;
using Expected = std::vector<std::pair<SyntaxKind, std::string_view>>;

struct LexCase {
  const char* name;
  std::string_view input;
  Expected tokens;
};

std::string escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string dump(const Expected& tokens) {
  std::string out;
  for (const auto& [kind, text] : tokens) {
    out += std::string(kind_name(kind)) + " '" + escaped(text) + "'\n";
  }
  return out;
}

// Lexes `input`, checks the Eof token, and returns the dump of everything before it.
std::string lex_dump(std::string_view input) {
  const std::vector<Token> tokens = tokenize(input);
  EXPECT_FALSE(tokens.empty());
  if (tokens.empty()) return "";
  const auto length = static_cast<uint32_t>(input.size());
  EXPECT_EQ(tokens.back().kind, SyntaxKind::Eof);
  EXPECT_EQ(tokens.back().range, TextRange(length, length));
  EXPECT_TRUE(tokens.back().text.empty());
  Expected pairs;
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    pairs.emplace_back(tokens[i].kind, tokens[i].text.view());
  }
  return dump(pairs);
}

void check_cases(const std::vector<LexCase>& cases) {
  for (const LexCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lex_dump(c.input), dump(c.tokens)) << "input: '" << escaped(c.input) << "'";
  }
}

TEST(Lex, EmptyTextIsOnlyEof) {
  const std::vector<Token> tokens = tokenize("");
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].kind, SyntaxKind::Eof);
  EXPECT_EQ(tokens[0].range, TextRange(0, 0));
}

TEST(Lex, DirectivesAndKeywords) {
  check_cases({
      {"version digits are single unknowns",
       "!version 0.1",
       {{K::Bang, "!"},
        {K::Word, "version"},
        {K::Whitespace, " "},
        {K::Unknown, "0"},
        {K::Unknown, "."},
        {K::Unknown, "1"}}},
      {"shell directive",
       "!shell bash",
       {{K::Bang, "!"}, {K::ShellKeyword, "shell"}, {K::Whitespace, " "}, {K::Word, "bash"}}},
      {"shell clause keeps equals apart",
       "build shell=bash:",
       {{K::Word, "build"},
        {K::Whitespace, " "},
        {K::ShellKeyword, "shell"},
        {K::Equals, "="},
        {K::Word, "bash"},
        {K::Colon, ":"}}},
      {"shell tilde equals", "shell~=pwsh", {{K::ShellTildeEquals, "shell~="}, {K::Word, "pwsh"}}},
      {"spaced tilde is not the operator",
       "shell ~=",
       {{K::ShellKeyword, "shell"}, {K::Whitespace, " "}, {K::Unknown, "~"}, {K::Equals, "="}}},
      {"shell tilde without equals", "shell~", {{K::ShellKeyword, "shell"}, {K::Unknown, "~"}}},
      {"shell at end of input", "shell", {{K::ShellKeyword, "shell"}}},
      {"shell prefixes are words",
       "shells shell_x shell-2 shell9 sh s",
       {{K::Word, "shells"},
        {K::Whitespace, " "},
        {K::Word, "shell_x"},
        {K::Whitespace, " "},
        {K::Word, "shell-2"},
        {K::Whitespace, " "},
        {K::Word, "shell9"},
        {K::Whitespace, " "},
        {K::Word, "sh"},
        {K::Whitespace, " "},
        {K::Word, "s"}}},
      {"only exact group is the keyword",
       "group groups Group group2 group",
       {{K::GroupKeyword, "group"},
        {K::Whitespace, " "},
        {K::Word, "groups"},
        {K::Whitespace, " "},
        {K::Word, "Group"},
        {K::Whitespace, " "},
        {K::Word, "group2"},
        {K::Whitespace, " "},
        {K::GroupKeyword, "group"}}},
      {"words start with letters, underscore or dash",
       "_x1 -a 9b",
       {{K::Word, "_x1"},
        {K::Whitespace, " "},
        {K::Word, "-a"},
        {K::Whitespace, " "},
        {K::Unknown, "9"},
        {K::Word, "b"}}},
  });
}

TEST(Lex, PunctuationAndUnknowns) {
  check_cases({
      {"every punctuation mark",
       "!:?&=@()[]{},",
       {{K::Bang, "!"},
        {K::Colon, ":"},
        {K::Question, "?"},
        {K::Ampersand, "&"},
        {K::Equals, "="},
        {K::At, "@"},
        {K::LParen, "("},
        {K::RParen, ")"},
        {K::LBracket, "["},
        {K::RBracket, "]"},
        {K::LBrace, "{"},
        {K::RBrace, "}"},
        {K::Comma, ","}}},
      {"unknown runs are not merged",
       "${name}",
       {{K::Unknown, "$"}, {K::LBrace, "{"}, {K::Word, "name"}, {K::RBrace, "}"}}},
      {"other ASCII marks",
       "%'*+./;<>\\^`|~",
       {{K::Unknown, "%"},
        {K::Unknown, "'"},
        {K::Unknown, "*"},
        {K::Unknown, "+"},
        {K::Unknown, "."},
        {K::Unknown, "/"},
        {K::Unknown, ";"},
        {K::Unknown, "<"},
        {K::Unknown, ">"},
        {K::Unknown, "\\"},
        {K::Unknown, "^"},
        {K::Unknown, "`"},
        {K::Unknown, "|"},
        {K::Unknown, "~"}}},
      {"control characters are not blank",
       std::string_view("a\f\v\x01\x7F\0b", 7),
       {{K::Word, "a"},
        {K::Unknown, "\f"},
        {K::Unknown, "\v"},
        {K::Unknown, "\x01"},
        {K::Unknown, "\x7F"},
        {K::Unknown, std::string_view("\0", 1)},
        {K::Word, "b"}}},
      {"non-ASCII outside strings is one unknown per character",
       "caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x82",
       {{K::Word, "caf"},
        {K::Unknown, "\xC3\xA9"},
        {K::Whitespace, " "},
        {K::Unknown, "\xE2\x82\xAC"},
        {K::Unknown, "\xF0\x9F\x98\x82"}}},
  });
}

TEST(Lex, BlanksAndLineBreaks) {
  check_cases({
      {"indent at line start, whitespace after a word",
       "    a    b",
       {{K::Indent, "    "}, {K::Word, "a"}, {K::Whitespace, "    "}, {K::Word, "b"}}},
      {"mixed tabs and spaces are one run",
       "\t \tx \t y",
       {{K::Indent, "\t \t"}, {K::Word, "x"}, {K::Whitespace, " \t "}, {K::Word, "y"}}},
      {"indent after each kind of newline",
       "a\n b\r\n c\r d",
       {{K::Word, "a"},
        {K::Newline, "\n"},
        {K::Indent, " "},
        {K::Word, "b"},
        {K::Newline, "\r\n"},
        {K::Indent, " "},
        {K::Word, "c"},
        {K::Newline, "\r"},
        {K::Indent, " "},
        {K::Word, "d"}}},
      {"lone CR then CR LF", "\r\r\n", {{K::Newline, "\r"}, {K::Newline, "\r\n"}}},
      {"LF CR is two breaks", "\n\r", {{K::Newline, "\n"}, {K::Newline, "\r"}}},
      {"blank run to end of input", "x  ", {{K::Word, "x"}, {K::Whitespace, "  "}}},
      {"long blank run past eight bytes",
       "x \t                 \ty",
       {{K::Word, "x"}, {K::Whitespace, " \t                 \t"}, {K::Word, "y"}}},
      {"long word past eight bytes",
       "a_very-long_identifier_99.",
       {{K::Word, "a_very-long_identifier_99"}, {K::Unknown, "."}}},
  });
}

TEST(Lex, ByteOrderMark) {
  check_cases({
      {"mark then blanks is whitespace, not indent",
       "\xEF\xBB\xBF  x",
       {{K::ByteOrderMark, "\xEF\xBB\xBF"}, {K::Whitespace, "  "}, {K::Word, "x"}}},
      {"second mark is unknown",
       "\xEF\xBB\xBF\xEF\xBB\xBF",
       {{K::ByteOrderMark, "\xEF\xBB\xBF"}, {K::Unknown, "\xEF\xBB\xBF"}}},
      {"mark after a word is one unknown",
       "a\xEF\xBB\xBF",
       {{K::Word, "a"}, {K::Unknown, "\xEF\xBB\xBF"}}},
      {"other EF characters at offset 0", "\xEF\xBC\x81", {{K::Unknown, "\xEF\xBC\x81"}}},
      {"mark on a later line",
       "\n\xEF\xBB\xBF",
       {{K::Newline, "\n"}, {K::Unknown, "\xEF\xBB\xBF"}}},
  });
}

TEST(Lex, Comments) {
  check_cases({
      {"CR before LF belongs to the comment",
       "# note\r\nx",
       {{K::Comment, "# note\r"}, {K::Newline, "\n"}, {K::Word, "x"}}},
      {"comment at end of input",
       "a # b",
       {{K::Word, "a"}, {K::Whitespace, " "}, {K::Comment, "# b"}}},
      {"comment keeps quotes, hashes and non-ASCII",
       "#\"x \xE2\x82\xAC # \xF0\x9F\x98\x82 \"\n",
       {{K::Comment, "#\"x \xE2\x82\xAC # \xF0\x9F\x98\x82 \""}, {K::Newline, "\n"}}},
      {"a lone CR does not end a comment",
       "# a\rb\nc",
       {{K::Comment, "# a\rb"}, {K::Newline, "\n"}, {K::Word, "c"}}},
      {"blanks after a comment line are indent",
       "# c\n  x",
       {{K::Comment, "# c"}, {K::Newline, "\n"}, {K::Indent, "  "}, {K::Word, "x"}}},
      {"long comment with LF inside the second eight bytes",
       "# 0123456789abc\nx",
       {{K::Comment, "# 0123456789abc"}, {K::Newline, "\n"}, {K::Word, "x"}}},
  });
}

TEST(Lex, Strings) {
  // Q = double quote, B = backslash in the case names.
  check_cases({
      {"QaBQbQ is one string", "\"a\\\"b\"", {{K::String, "\"a\\\"b\""}}},
      {"QaBQ b at line end backtracks to the remembered string",
       "\"a\\\" b\n",
       {{K::String, "\"a\\\""}, {K::Whitespace, " "}, {K::Word, "b"}, {K::Newline, "\n"}}},
      {"QaBBQ xQ: a later quote makes the escaped one content",
       "\"a\\\\\" x\"",
       {{K::String, "\"a\\\\\" x\""}}},
      {"unterminated string is one unknown up to the LF",
       "\"abc\nx",
       {{K::Unknown, "\"abc"}, {K::Newline, "\n"}, {K::Word, "x"}}},
      {"unterminated string keeps the CR of a CR LF line",
       "\"abc\r\n",
       {{K::Unknown, "\"abc\r"}, {K::Newline, "\n"}}},
      {"unterminated string at end of input",
       "x \"ab",
       {{K::Word, "x"}, {K::Whitespace, " "}, {K::Unknown, "\"ab"}}},
      {"lone quote", "\"", {{K::Unknown, "\""}}},
      {"backtracks to the last of several remembered ends",
       "\"a\\\"b\\\"c\n",
       {{K::String, "\"a\\\"b\\\""}, {K::Word, "c"}, {K::Newline, "\n"}}},
      {"empty string then text", "\"\"x", {{K::String, "\"\""}, {K::Word, "x"}}},
      {"string ends at the first plain quote",
       "\"a\"b\"",
       {{K::String, "\"a\""}, {K::Word, "b"}, {K::Unknown, "\""}}},
      {"hash and braces inside a string",
       "\"#{{ x }}\" # c",
       {{K::String, "\"#{{ x }}\""}, {K::Whitespace, " "}, {K::Comment, "# c"}}},
      {"non-ASCII inside a string is content",
       "\"\xE2\x82\xAC\xF0\x9F\x98\x82 caf\xC3\xA9\"",
       {{K::String, "\"\xE2\x82\xAC\xF0\x9F\x98\x82 caf\xC3\xA9\""}}},
      {"escaped quote after the first eight bytes",
       "\"0123456789\\\"abcdefghij\" z",
       {{K::String, "\"0123456789\\\"abcdefghij\""}, {K::Whitespace, " "}, {K::Word, "z"}}},
  });
}

// The server only passes valid UTF-8, but the recogniser must still tile any bytes without
// reading past the end: an ill-formed byte is a one-byte Unknown and ends comments and strings.
TEST(Lex, IllFormedUtf8) {
  check_cases({
      {"truncated sequence at end",
       "a\xF0\x9F\x98",
       {{K::Word, "a"}, {K::Unknown, "\xF0"}, {K::Unknown, "\x9F"}, {K::Unknown, "\x98"}}},
      {"stray continuation and invalid leads",
       "\x80\xC0\xFF",
       {{K::Unknown, "\x80"}, {K::Unknown, "\xC0"}, {K::Unknown, "\xFF"}}},
      {"surrogate form",
       "\xED\xA0\x80",
       {{K::Unknown, "\xED"}, {K::Unknown, "\xA0"}, {K::Unknown, "\x80"}}},
      {"above U+10FFFF",
       "\xF4\x90\x80\x80",
       {{K::Unknown, "\xF4"}, {K::Unknown, "\x90"}, {K::Unknown, "\x80"}, {K::Unknown, "\x80"}}},
      {"overlong three-byte form",
       "\xE0\x80\xAF",
       {{K::Unknown, "\xE0"}, {K::Unknown, "\x80"}, {K::Unknown, "\xAF"}}},
      {"ill-formed byte ends a comment",
       "# a\xC3z\n",
       {{K::Comment, "# a"}, {K::Unknown, "\xC3"}, {K::Word, "z"}, {K::Newline, "\n"}}},
      {"ill-formed byte ends a string attempt",
       "\"a\xFF\"",
       {{K::Unknown, "\"a"}, {K::Unknown, "\xFF"}, {K::Unknown, "\""}}},
      {"truncated mark at offset 0", "\xEF\xBB", {{K::Unknown, "\xEF"}, {K::Unknown, "\xBB"}}},
  });
}

}  // namespace
}  // namespace quib
