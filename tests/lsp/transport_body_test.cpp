// Message bodies parsed with long params strings detached: putting the strings back must give
// exactly the JSON a plain parse gives, and each string must be named by its place.
#include "lsp/transport_body.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <string>
#include <vector>

#include "lsp/protocol_types.h"

namespace quib::lsp {
namespace {

// A string literal of `size` bytes after unescaping, with line feeds written as escapes and
// `extra` (already JSON) in the middle.
std::string long_literal(size_t size, std::string_view extra = "") {
  std::string out = "\"";
  size_t written = 0;
  while (written + 32 < size) {
    out += "task(a) & b:\\n    echo {{ a }}!!\\n";  // 32 bytes once unescaped
    written += 32;
    if (!extra.empty() && written >= size / 2 && written < size / 2 + 32) out += extra;
  }
  out.append(size - written, 'x');
  return out + "\"";
}

const size_t kLong = kDetachedStringMin + 100;
const std::string kBig = long_literal(kLong);
const std::string kEscaped = long_literal(kLong, R"(\"\\\u00e9\ud83d\ude00\t)");
const std::string kAtMin = long_literal(kDetachedStringMin);
const std::string kBelowMin = long_literal(kDetachedStringMin - 1);

std::string message(std::string_view params) {
  return R"({"jsonrpc":"2.0","method":"m","params":)" + std::string(params) + "}";
}

struct BodyCase {
  const char* name;
  std::string body;
  std::vector<std::string> pointers;  // of the detached strings, in order
};

class ParseBodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(ParseBodyTest, DetachesAtTheirPlacesAndReattachesToThePlainParse) {
  const BodyCase& c = GetParam();
  std::optional<ParsedBody> parsed = parse_body(c.body);
  ASSERT_TRUE(parsed.has_value());
  std::vector<std::string> pointers;
  for (const DetachedString& d : parsed->detached) {
    pointers.push_back(d.pointer);
    EXPECT_GE(d.text.size(), kDetachedStringMin);
  }
  EXPECT_EQ(pointers, c.pointers);
  json::value& params = parsed->value.as_object()["params"];
  for (const DetachedString& d : parsed->detached) {
    EXPECT_EQ(params.at_pointer(d.pointer), "") << d.pointer;
  }
  reattach(params, std::move(parsed->detached));
  EXPECT_EQ(parsed->value, json::parse(c.body));
}

// Parsed in place, a body gives the same JSON and texts; the first detached text takes the
// body's storage over when it fills at least half of it, and is copied out otherwise.
TEST_P(ParseBodyTest, InPlaceGivesTheSameTextsAndTheFirstTakesTheBodyOver) {
  const BodyCase& c = GetParam();
  const std::optional<ParsedBody> plain = parse_body(c.body);
  ASSERT_TRUE(plain.has_value());
  std::string body = c.body;
  const char* const storage = body.data();
  const size_t capacity = body.capacity();
  InPlaceParse in_place = parse_body_in_place(body);
  ASSERT_TRUE(in_place.parsed.has_value());
  EXPECT_EQ(in_place.parsed->value, plain->value);
  ASSERT_EQ(in_place.parsed->detached.size(), plain->detached.size());
  for (size_t i = 0; i < plain->detached.size(); ++i) {
    EXPECT_EQ(in_place.parsed->detached[i].pointer, plain->detached[i].pointer);
    EXPECT_EQ(in_place.parsed->detached[i].text, plain->detached[i].text) << i;
  }
  const auto in_body =
      std::find_if(in_place.parsed->detached.begin(), in_place.parsed->detached.end(),
                   [&](const DetachedString& d) { return d.text.data() == storage; });
  if (in_body == in_place.parsed->detached.end()) {
    EXPECT_EQ(body.size(), c.body.size());  // still the body, whatever its first bytes now hold
  } else {
    EXPECT_GE(in_body->text.size(), capacity / 2);
    EXPECT_TRUE(body.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ParseBodyTest,
    ::testing::Values(
        BodyCase{"NoLongString", message(R"({"textDocument":{"uri":"u","text":"short"}})"), {}},
        BodyCase{"DocumentText",
                 message(R"({"textDocument":{"uri":"u","version":1,"text":)" + kBig + "}}"),
                 {"/textDocument/text"}},
        BodyCase{"EscapesAndSurrogatesInText",
                 message(R"({"textDocument":{"text":)" + kEscaped + "}}"),
                 {"/textDocument/text"}},
        BodyCase{"EveryChange",
                 message(R"({"contentChanges":[{"text":)" + kBig + R"(},{"range":{},"text":)" +
                         kEscaped + "}]}"),
                 {"/contentChanges/0/text", "/contentChanges/1/text"}},
        BodyCase{"ArrayElements", message("[1," + kBig + ",\"x\",[" + kBig + "]]"), {"/1", "/3/0"}},
        BodyCase{
            "KeysThatNeedEscapingInPointers", message(R"({"a/b~c":)" + kBig + "}"), {"/a~1b~0c"}},
        BodyCase{"AtTheThresholdAndBelow",
                 message(R"({"at":)" + kAtMin + R"(,"below":)" + kBelowMin + "}"),
                 {"/at"}},
        BodyCase{"LongKeysStayInTheValue", message("{" + kBig + ":1}"), {}},
        BodyCase{"OutsideParamsNothingIsDetached",
                 R"({"jsonrpc":"2.0","id":)" + kBig + R"(,"method":)" + kBig + R"(,"extra":{"t":)" +
                     kBig + R"(},"params":{}})",
                 {}},
        BodyCase{"ParamsAfterTheirMethodAndBefore",
                 R"({"params":{"t":)" + kBig + R"(},"jsonrpc":"2.0","method":"m"})",
                 {"/t"}},
        BodyCase{"LaterMemberOfTheSameNameReplacesALongOne",
                 message(R"({"d":{"text":)" + kBig + R"(,"text":"small"},"e":)" + kBig + "}"),
                 {"/e"}},
        BodyCase{"LongMemberReplacesAnEarlierOne",
                 message(R"({"text":"small","text":)" + kBig + "}"),
                 {"/text"}},
        BodyCase{"LaterParamsReplaceEarlierOnes",
                 R"({"params":{"t":)" + kBig + R"(},"params":{"u":1},"method":"m"})",
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseBodyTest, RefusesWhatIsNotExactlyOneJsonText) {
  for (std::string body :
       {std::string(""), std::string("{"), std::string("{} {}"), std::string("{}x"),
        message(R"({"text":)" + kBig.substr(0, kBig.size() - 1) + "}"),
        message(R"({"text":)" + kBig.substr(0, kBig.size() - 1) + "\\u12\"}")}) {
    EXPECT_FALSE(parse_body(body).has_value()) << body.substr(0, 80);
  }
  EXPECT_TRUE(parse_body(" {} \n").has_value());
}

// A text that fills at least half of its body's storage keeps that storage, read once and never
// copied; one of two such texts is copied out, not left holding storage twice its size.
TEST(ParseBodyTest, ADocumentTextTakesItsBodyOver) {
  std::string body = message(R"({"textDocument":{"uri":"u","text":)" + kEscaped + "}}");
  body.shrink_to_fit();
  const char* const storage = body.data();
  InPlaceParse parse = parse_body_in_place(body);
  ASSERT_TRUE(parse.parsed.has_value());
  ASSERT_EQ(parse.parsed->detached.size(), 1u);
  EXPECT_EQ(parse.parsed->detached[0].text.data(), storage);
  EXPECT_TRUE(body.empty());

  std::string two = message(R"({"a":)" + kBig + R"(,"b":)" + kBig + "}");
  two.shrink_to_fit();
  const char* const shared = two.data();
  parse = parse_body_in_place(two);
  ASSERT_TRUE(parse.parsed.has_value());
  ASSERT_EQ(parse.parsed->detached.size(), 2u);
  EXPECT_NE(parse.parsed->detached[0].text.data(), shared);
  EXPECT_EQ(two.data(), shared);
}

// A body that fails after a text was unescaped into its start keeps every later byte as it came,
// so a header after its end can still be found.
TEST(ParseBodyTest, InPlaceFailureKeepsTheBytesAfterTheRewrittenOnes) {
  const std::string tail = "}x Content-Length: 2";
  for (const std::string& original : {message(R"({"text":)" + kEscaped + tail),
                                      message(R"({"text":)" + kBig), std::string("{\"a\"")}) {
    std::string body = original;
    const InPlaceParse parse = parse_body_in_place(body);
    EXPECT_FALSE(parse.parsed.has_value());
    ASSERT_LE(parse.rewritten, body.size());
    EXPECT_EQ(body.size(), original.size());
    EXPECT_EQ(body.substr(parse.rewritten), original.substr(parse.rewritten));
    if (original.size() > kLong) {
      EXPECT_GE(parse.rewritten, kDetachedStringMin);
    }
  }
}

// What a watcher hears of one body's decoding. At each step the bytes called final must be those
// of the text the body carries.
class RecordingWatcher final : public LongStringWatcher {
 public:
  explicit RecordingWatcher(std::string text) : text_(std::move(text)) {}

  void body_begins() override { events.push_back("body"); }
  void string_begins(const std::string& storage) override {
    events.push_back("string");
    storage_ = &storage;
    storage_data = storage.data();
  }
  void string_decoded(size_t bytes) override {
    ASSERT_NE(storage_, nullptr);
    EXPECT_GE(bytes, decoded);
    decoded = bytes;
    const std::string_view final(storage_->data(), bytes);
    EXPECT_TRUE(final == std::string_view(text_).substr(0, bytes))
        << "the " << bytes << " bytes called final differ from the text's first ones";
  }
  void body_ends() override { events.push_back("end"); }
  void string_copied(const std::string& text) override {
    events.push_back("copied");
    copy = &text;
  }

  std::vector<std::string> events;
  size_t decoded = 0;
  const std::string* storage_ = nullptr;
  const std::string* copy = nullptr;
  const char* storage_data = nullptr;  // the storage's bytes, which a text may take over

 private:
  std::string text_;
};

std::string unescaped(const std::string& literal) {
  return std::string(boost::json::parse(literal).as_string());
}

// The first long string of a body is watched while it is unescaped into the body, a growing
// count of final bytes at a time, and ends as the text the parse hands over in that storage, or
// in the copy it is said to be moved to; every body is begun and ended, also one that fails, and
// no other string is watched.
TEST(ParseBodyTest, AWatcherSeesTheFirstLongStringDecoded) {
  struct WatchCase {
    std::string body;
    std::vector<std::string> events;
    bool parses;
  };
  const std::vector<WatchCase> cases = {
      {message(R"({"textDocument":{"uri":"u","text":)" + kEscaped + "}}"),
       {"body", "string", "end"},
       true},
      {message(R"({"a":)" + kEscaped + R"(,"b":)" + kBig + "}"),
       {"body", "string", "end", "copied"},
       true},
      {message(R"({"a":"short"})"), {"body", "end"}, true},
      {message(R"({"text":)" + kEscaped + ",}"), {"body", "string", "end"}, false},
  };
  for (const WatchCase& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    RecordingWatcher watcher(unescaped(kEscaped));
    std::string body = c.body;
    const InPlaceParse parse = parse_body_in_place(body, kDetachedStringMin, &watcher);
    EXPECT_EQ(watcher.events, c.events);
    EXPECT_EQ(parse.parsed.has_value(), c.parses);
    if (c.parses && c.events.size() >= 3) {
      const std::string& text = parse.parsed->detached[0].text;
      EXPECT_EQ(watcher.decoded, text.size());
      EXPECT_EQ(text, unescaped(kEscaped));
      // The text lies where the watcher was last told: in the body, or in the copy.
      EXPECT_EQ(text.data(), watcher.copy ? watcher.copy->data() : watcher.storage_data);
    }
  }
}

// At most one string of a body goes into the body, also when the first was empty (nothing of
// the body rewritten) and a later member of the same name dropped it: a watcher is told of one
// string, and the later string gets a buffer of its own.
TEST(ParseBodyTest, OneStringAtMostGoesIntoTheBody) {
  RecordingWatcher watcher("");
  std::string body = message(R"({"a":{"t":""},"a":"later"})");
  const InPlaceParse parse = parse_body_in_place(body, 0, &watcher);
  ASSERT_TRUE(parse.parsed.has_value());
  EXPECT_EQ(watcher.events, (std::vector<std::string>{"body", "string", "end"}));
  ASSERT_EQ(parse.parsed->detached.size(), 1u);
  EXPECT_EQ(parse.parsed->detached[0].pointer, "/a");
  EXPECT_EQ(parse.parsed->detached[0].text, "later");
}

TEST(DetachedTargetTest, OnlyTheDocumentTextsHaveAPlace) {
  DidOpenTextDocumentParams open;
  EXPECT_EQ(detached_target(open, "/textDocument/text"), &open.textDocument.text);
  EXPECT_EQ(detached_target(open, "/textDocument/uri"), nullptr);
  DidChangeTextDocumentParams change;
  change.contentChanges.resize(11);
  EXPECT_EQ(detached_target(change, "/contentChanges/0/text"), &change.contentChanges[0].text);
  EXPECT_EQ(detached_target(change, "/contentChanges/10/text"), &change.contentChanges[10].text);
  for (std::string_view pointer :
       {"/contentChanges/11/text", "/contentChanges/01/text", "/contentChanges//text",
        "/contentChanges/-1/text", "/contentChanges/1/range", "/contentChanges/1text",
        "/textDocument/text", "/contentChanges/99999999999999999999999/text"}) {
    EXPECT_EQ(detached_target(change, pointer), nullptr) << pointer;
  }
}

}  // namespace
}  // namespace quib::lsp
