// Message bodies parsed with long params strings detached: putting the strings back must give
// exactly the JSON a plain parse gives, and each string must be named by its place.
#include "lsp/transport_body.h"

#include <gtest/gtest.h>

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
