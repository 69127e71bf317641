// Generated inputs for property tests of every layer: random mixes of the language's own
// line fragments and random valid UTF-8, reproducible from a seed. Header-only so that each
// test program can use it without linking another library.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace quib::testing_support {

// Portable draws: std::mt19937 output is fixed by the standard, the distributions are not.
class Draw {
 public:
  explicit Draw(uint32_t seed) : engine_(seed) {}
  uint32_t below(uint32_t bound) { return static_cast<uint32_t>(engine_() % bound); }
  bool chance(uint32_t one_in) { return below(one_in) == 0; }

 private:
  std::mt19937 engine_;
};

// Two-, three- and four-byte characters, including the edges of each length and the byte order
// mark, which counts as such only at offset 0.
inline constexpr std::array<std::string_view, 12> kMultiByte = {
    "\xC2\xA5",     "\xC3\xA9",         "\xDF\xBF",         "\xE0\xA0\x80",
    "\xE2\x86\x93", "\xE2\x82\xAC",     "\xED\x9F\xBF",     "\xEF\xBB\xBF",
    "\xEF\xBF\xBD", "\xF0\x9F\x98\x82", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"};

// One character of valid UTF-8, weighted toward the bytes the lexer treats specially.
inline void append_random_char(std::string& out, Draw& draw) {
  static constexpr std::string_view kSpecial = " \t\r\n\"\\#!:?&=@()[]{},.~|$0s";
  switch (draw.below(4)) {
    case 0:
      out += kMultiByte[draw.below(kMultiByte.size())];
      break;
    case 1:
      out += kSpecial[draw.below(kSpecial.size())];
      break;
    default:
      out += static_cast<char>(draw.below(0x80));
  }
}

// Lines and pieces of lines of the language, valid and broken.
inline constexpr std::array<std::string_view, 44> kFragments = {
    "!version 0.1\n",
    "!version 0.0\n",
    "!version\n",
    "!var name = \"value\"\n",
    "!var 1x = v\n",
    "!shell bash\n",
    "!shell zsh\n",
    "!\n",
    "!os linux # c\n",
    "[help] Build {{ name }}\n",
    "[desc] More\n",
    "[pass] ok\n",
    "[team] x\n",
    "[help]\n",
    "group ci {\n",
    "group tools { # x\n",
    "}\n",
    "} extra\n",
    "    group g {\n",
    "    }\n",
    "build:\n",
    "build():\n",
    "build(target, mode=\"fast\", rest..) ? @os(\"linux\") & lint shell=bash:\n",
    "deploy(a) ? @env(\"HOME\") ? @cpu(\"x\") & (lint, test(\"a\", \"b\")) & ci.build:\n",
    "run(x,\n",
    "    y):\n",
    "    & setup\n",
    "    shell~=pwsh:\n",
    "t & d(\"a\",):\n",
    "all & build & test\n",
    "    echo {{ target }} {{name}}\n",
    "    | set -e\n",
    "    | echo \\{{ x }}\n",
    "    |grep x\n",
    "        make all   \n",
    "    test():\n",
    "    test:\n",
    "# comment\n",
    "\n",
    "   \n",
    "\r\n",
    "\r",
    "1234 $ . > \"unterminated\n",
    "\xEF\xBB\xBF",
};

// A text of `pieces` random fragments, sometimes interleaved with random characters.
inline std::string random_document(Draw& draw, uint32_t pieces) {
  std::string out;
  for (uint32_t i = 0; i < pieces; ++i) {
    if (draw.chance(5)) {
      const uint32_t count = draw.below(12);
      for (uint32_t j = 0; j < count; ++j) append_random_char(out, draw);
    } else {
      out += kFragments[draw.below(kFragments.size())];
    }
  }
  return out;
}

}  // namespace quib::testing_support
