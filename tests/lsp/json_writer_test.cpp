// JsonWriter against Boost.JSON: the same escaping byte for byte, and commas that parse back
// to the structure written.
#include "lsp/json_writer.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <string>
#include <vector>

namespace quib::lsp {
namespace {

namespace json = boost::json;

TEST(JsonWriterTest, EscapesStringsAsBoostDoes) {
  std::string every_ascii;
  for (int c = 0; c < 0x80; ++c) every_ascii.push_back(static_cast<char>(c));
  const std::vector<std::string> texts = {
      "",
      every_ascii,
      "build:\n\tmake \"all\" \\ done\r\n",
      "\xC2\xA5 \xE2\x86\x93 \xF0\x9F\x98\x82",  // two-, three- and four-byte characters
      std::string("nul\0inside", 10),
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(to_json_text(text), json::serialize(json::string_view(text)));
    EXPECT_EQ(json::parse(to_json_text(text)), json::string_view(text));
  }
}

// Runs are skipped a word at a time: every byte that needs an escape must be found at every
// position of a word and in the tail after the last whole word.
// Texts of 1 to 19 bytes with one byte that needs an escape at each position (two words and
// a tail), followed by `next` where there is room.
std::vector<std::string> escape_at_every_position(char next) {
  std::vector<std::string> texts;
  for (const char special : {'\0', '\n', '\x1f', '"', '\\'}) {
    for (std::size_t length = 1; length <= 19; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string text(length, 'a');
        text[at] = special;
        if (at + 1 < length) text[at + 1] = next;
        texts.push_back(text);
      }
    }
  }
  return texts;
}

TEST(JsonWriterTest, FindsEscapesAtEveryPositionOfAWord) {
  for (const std::string& text : escape_at_every_position('\x7f')) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(to_json_text(text), json::serialize(json::string_view(text)));
  }
  const std::string high = "\xE2\x86\x93\xE2\x86\x93\xE2\x86\x93\xF0\x9F\x98\x82 \xC2\xA0";
  EXPECT_EQ(to_json_text(high), json::serialize(json::string_view(high)));
}

TEST(JsonWriterTest, SeparatesMembersAndElementsAtEveryDepth) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  write_member(w, "empty", std::vector<int>{});
  write_member(w, "nested", std::vector<std::vector<uint32_t>>{{1, 2}, {}, {4294967295u}});
  write_member(w, "absent", std::optional<int>{});
  write_member(w, "null", nullptr);
  w.key("raw");
  w.raw(R"({"a":[true,false]})");
  write_member(w, "last", -7);
  w.end_object();
  EXPECT_EQ(json::parse(out), json::parse(R"({"empty":[],"nested":[[1,2],[],[4294967295]],
                                              "null":null,"raw":{"a":[true,false]},"last":-7})"));
}

// Long enough to cross the writer's internal chunks several times, with numbers of every width.
TEST(JsonWriterTest, WritesLongNumberArraysAsBoostDoes) {
  std::vector<uint32_t> data;
  for (uint32_t i = 0; i < 20000; ++i) data.push_back(i % 7 == 0 ? 4294967295u - i : i * 37u);
  json::array expected;
  for (uint32_t n : data) expected.push_back(n);
  EXPECT_EQ(to_json_text(data), json::serialize(expected));
}

// A large string and the few bytes that close the edit around it fit the room reserved for
// the string: the reply is not grown to twice its size (and copied) for its last bytes.
TEST(JsonWriterTest, LargeStringAndItsClosingBytesFitOneReservation) {
  const std::string text(1 << 20, 'x');
  std::string out;
  JsonWriter w(out);
  w.begin_array();
  w.begin_object();
  w.key("range");
  w.null();
  w.key("newText");
  w.string(text);
  w.end_object();
  w.end_array();
  EXPECT_LT(out.capacity(), out.size() + out.size() / 16);
}

// An element that notes the capacity of the output it is written into.
struct CapacityProbe {
  const std::string* out;
  std::vector<std::size_t>* capacities;
  std::size_t width;
};

void write_json(JsonWriter& w, const CapacityProbe& probe) {
  probe.capacities->push_back(probe.out->capacity());
  w.string(std::string(probe.width, 'p'));
}

// A long list reserves for the rest after its first element: later elements of about its size
// never grow the output, whose room stays within a quarter (and a bit) of what they need. Short
// lists and lists whose first element is untypically small still come out whole.
TEST(JsonWriterTest, LongListsGrowOnceAfterTheirFirstElement) {
  for (const std::size_t count : {63u, 64u, 1000u, 20000u}) {
    SCOPED_TRACE(count);
    std::string out;
    std::vector<std::size_t> capacities;
    JsonWriter w(out);
    write_json(w, std::vector<CapacityProbe>(count, CapacityProbe{&out, &capacities, 40}));
    ASSERT_EQ(capacities.size(), count);
    EXPECT_EQ(out.size(), 2 + count * 43 - 1);
    if (count < 64) continue;
    EXPECT_EQ(capacities[1], capacities.back());
    EXPECT_LT(out.capacity(), out.size() * 5 / 4 + 64);
  }
  std::string out;
  std::vector<std::size_t> capacities;
  JsonWriter w(out);
  std::vector<CapacityProbe> uneven(500, CapacityProbe{&out, &capacities, 200});
  uneven.front().width = 0;
  write_json(w, uneven);
  EXPECT_EQ(json::parse(out).as_array().size(), 500u);
  EXPECT_EQ(json::parse(out).as_array().back().as_string(), std::string(200, 'p'));
}

// Escaping in place gives the writer's bytes for every escape at every position of a word,
// next to other escapes and at both ends, with and without text around the string.
TEST(JsonStringInPlace, WritesWhatTheWriterWrites) {
  std::vector<std::string> texts = {"",     "plain",        "\n",
                                    "\"\"", "\x01\x02\n\\", "a\u00e9\"\xE2\x86\x93"};
  for (std::string& text : escape_at_every_position('\t')) texts.push_back(std::move(text));
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::Message() << "text of " << text.size() << " bytes: " << text);
    EXPECT_EQ(json_string_in_place(text, "", ""), to_json_text(text));
    EXPECT_EQ(json_string_in_place(text, R"([{"newText":)", "}]"),
              R"([{"newText":)" + to_json_text(text) + "}]");
  }
}

// A text with room for its escapes is answered in its own buffer, not copied into a second.
TEST(JsonStringInPlace, KeepsTheTextsBuffer) {
  std::string text;
  for (int line = 0; line < 20000; ++line)
    text += "    echo \"step " + std::to_string(line) + "\"\n";
  const std::string expected = "[" + to_json_text(text) + "]";
  text.reserve(text.size() * 2);
  const char* const buffer = text.data();
  const std::string answer = json_string_in_place(std::move(text), "[", "]");
  EXPECT_EQ(answer, expected);
  EXPECT_EQ(answer.data(), buffer);
}

}  // namespace
}  // namespace quib::lsp
