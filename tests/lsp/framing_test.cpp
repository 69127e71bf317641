// Framing: how byte streams, split any way across reads, are cut into bodies and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "lsp/transport_framing.h"
#include "memory_streams.h"

namespace quib::lsp {
namespace {

using testing::ChunkedSource;

std::string framed(std::string_view body) {
  return frame(body);
}

// Every frame the reader yields until end of input: "body:<text>" or "error".
std::vector<std::string> read_all(std::vector<std::string> chunks) {
  ChunkedSource source(std::move(chunks));
  MessageReader reader(source);
  std::vector<std::string> out;
  for (;;) {
    Frame frame = reader.next();
    if (std::holds_alternative<EndOfInput>(frame)) return out;
    if (auto* body = std::get_if<std::string>(&frame)) {
      out.push_back("body:" + *body);
    } else {
      out.push_back("error");
    }
  }
}

// Splits `bytes` into chunks of `size` bytes.
std::vector<std::string> chunks_of(const std::string& bytes, std::size_t size) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < bytes.size(); i += size) out.push_back(bytes.substr(i, size));
  return out;
}

struct FramingCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> expected;
};

class FramingTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(FramingTest, YieldsExpectedFrames) {
  EXPECT_EQ(read_all(GetParam().chunks), GetParam().expected);
}

const std::string kAB = framed("{\"a\":1}") + framed("{\"b\":2}");

INSTANTIATE_TEST_SUITE_P(
    Streams, FramingTest,
    ::testing::Values(
        FramingCase{"OneMessage", {framed("{}")}, {"body:{}"}},
        FramingCase{"SeveralInOneRead", {kAB}, {"body:{\"a\":1}", "body:{\"b\":2}"}},
        FramingCase{"ByteByByte", chunks_of(kAB, 1), {"body:{\"a\":1}", "body:{\"b\":2}"}},
        FramingCase{"HeaderSplitInName", {"Content-Le", "ngth: 2\r", "\n\r\n{}"}, {"body:{}"}},
        FramingCase{
            "BodySplitAcrossReads", {"Content-Length: 7\r\n\r\n{\"a\"", ":1}"}, {"body:{\"a\":1}"}},
        FramingCase{"ContentTypeAndCaseInsensitiveName",
                    {"Content-Type: application/vscode-jsonrpc; charset=utf-8\r\n"
                     "content-length:2\r\n\r\n{}"},
                    {"body:{}"}},
        FramingCase{"BareLineFeeds", {"Content-Length: 2\n\n{}"}, {"body:{}"}},
        FramingCase{"BlankLinesBetweenMessages",
                    {"\r\n\r\n" + framed("{}") + "\r\n" + framed("[]")},
                    {"body:{}", "body:[]"}},
        FramingCase{"EmptyBody", {"Content-Length: 0\r\n\r\n"}, {"body:"}},
        FramingCase{"MissingContentLength",
                    {"Content-Type: x\r\n\r\n{\"lost\":1}" + framed("{}")},
                    {"error", "body:{}"}},
        FramingCase{
            "GarbageBeforeHeader", {"hello world\r\n\r\n" + framed("{}")}, {"error", "body:{}"}},
        FramingCase{"GarbageGluedToHeader", {"xyz" + framed("{}")}, {"error", "body:{}"}},
        FramingCase{"NegativeLength",
                    {"Content-Length: -5\r\n\r\n{}" + framed("[]")},
                    {"error", "body:[]"}},
        FramingCase{"NonNumericLength",
                    {"Content-Length: 12abc\r\n\r\n{}" + framed("[]")},
                    {"error", "body:[]"}},
        FramingCase{"AbsurdLength",
                    {"Content-Length: 1073741825\r\n\r\n{}" + framed("[]")},
                    {"error", "body:[]"}},
        FramingCase{"HugeDigitString",
                    {"Content-Length: 99999999999999999999999\r\n\r\n" + framed("[]")},
                    {"error", "body:[]"}},
        FramingCase{"ConflictingLengths",
                    {"Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}" + framed("[]")},
                    {"error", "body:[]"}},
        FramingCase{"StreamEndsInBody", {"Content-Length: 10\r\n\r\n{\"a\""}, {}},
        FramingCase{"StreamEndsInHeader", {framed("{}") + "Content-Len"}, {"body:{}"}},
        FramingCase{"HeaderNeverEnds",
                    {std::string(MessageReader::kMaxHeaderBytes + 10, 'x'), framed("{}")},
                    {"error", "body:{}"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FramingTest, LargeBodyArrivesWhole) {
  std::string body = "\"" + std::string(3 * 1024 * 1024, 'q') + "\"";
  auto frames = read_all(chunks_of(framed(body), 100000));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], "body:" + body);
}

// A wrong declared length is only noticed when the body is not JSON. Once told, the reader
// gives back a swallowed header (length too long) or skips the body's leftover tail (too
// short), and the next message is read whole.
struct ResyncCase {
  const char* name;
  std::string bad_message;
};

class ResyncTest : public ::testing::TestWithParam<ResyncCase> {};

TEST_P(ResyncTest, NextMessageIsReadWhole) {
  ChunkedSource source({GetParam().bad_message + framed("{\"next\":true}")});
  MessageReader reader(source);
  Frame first = reader.next();
  ASSERT_TRUE(std::holds_alternative<std::string>(first));
  reader.resync_after_bad_body(std::get<std::string>(first));
  Frame second = reader.next();
  ASSERT_TRUE(std::holds_alternative<std::string>(second));
  EXPECT_EQ(std::get<std::string>(second), "{\"next\":true}");
  EXPECT_TRUE(std::holds_alternative<EndOfInput>(reader.next()));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ResyncTest,
    ::testing::Values(ResyncCase{"TooLongPastHeaderName", "Content-Length: 40\r\n\r\n{\"s\":1}"},
                      ResyncCase{"TooLongInsideHeaderName",
                                 "Content-Length: 20\r\n\r\n{\"short\":1}"},
                      ResyncCase{"TooShort", "Content-Length: 3\r\n\r\n{\"a\":1}"}),
    [](const auto& info) { return std::string(info.param.name); });

// A header may announce up to 1 GiB; the reader must not allocate for bytes that never come.
TEST(Framing, AnnouncedLengthAllocatesNothingUntilBytesArrive) {
  ChunkedSource source({"Content-Length: 1000000000\r\n\r\n{\"a\":", "1}"});
  LargeBuffers spares;
  MessageReader reader(source, spares);
  EXPECT_TRUE(std::holds_alternative<EndOfInput>(reader.next()));
  EXPECT_LT(reader.buffer_capacity(), std::size_t{1} << 20);
}

// Serves `bytes` a chunk at a time and records, for every read, how many bytes it had served
// before and how much room the reader offered: together they bound the body's string.
class RecordingSource final : public ByteSource {
 public:
  struct Read {
    std::size_t served;
    std::size_t room;
  };
  RecordingSource(std::string bytes, std::size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}

  std::size_t read_some(std::span<char> buffer) override {
    reads.push_back({served_, buffer.size()});
    const std::size_t n = std::min({buffer.size(), chunk_, bytes_.size() - served_});
    std::memcpy(buffer.data(), bytes_.data() + served_, n);
    served_ += n;
    return n;
  }

  std::vector<Read> reads;

 private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t served_ = 0;
};

// A body's string grows with what arrives: never beyond four times the bytes served (or one
// read more), whatever the header announced; and a true length is taken without a last
// doubling, so no string of more than half the body is filled and thrown away.
TEST(Framing, BodyStringGrowsWithWhatArrives) {
  constexpr std::size_t kChunk = 64 * 1024;
  struct Case {
    const char* name;
    std::size_t announced;
    std::size_t sent;
  };
  for (const Case c :
       {Case{"TrueLength", 4363812, 4363812}, Case{"TrueOddLength", 1048583, 1048583},
        Case{"Announces1GiB", 1000000000, 3 << 20}}) {
    const std::string header = "Content-Length: " + std::to_string(c.announced) + "\r\n\r\n";
    RecordingSource source(header + std::string(c.sent, 'x'), kChunk);
    MessageReader reader(source);
    const Frame frame = reader.next();
    EXPECT_EQ(std::holds_alternative<std::string>(frame), c.sent == c.announced) << c.name;
    std::vector<std::size_t> sizes;
    for (const RecordingSource::Read& read : source.reads) {
      if (read.served < header.size()) continue;
      const std::size_t have = read.served - header.size();
      const std::size_t string_size = have + read.room;
      EXPECT_LE(string_size, std::max(4 * have, have + kChunk)) << c.name << " at " << have;
      if (sizes.empty() || sizes.back() != string_size) sizes.push_back(string_size);
    }
    if (c.sent == c.announced) {
      ASSERT_GE(sizes.size(), 2u) << c.name;
      EXPECT_EQ(sizes.back(), c.announced) << c.name;
      EXPECT_LE(sizes[sizes.size() - 2], c.announced / 2) << c.name;
    }
  }
}

std::string framed(std::size_t length, char fill) {
  return "Content-Length: " + std::to_string(length) + "\r\n\r\n" + std::string(length, fill);
}

// A body given back lends its storage to the next large body that fits: read whole and exact,
// in the same buffer, also when a little longer (a body read into a string of its own leaves
// room to spare). A body above the kept limit is not kept, and a lying header gets no more
// than the storage already held.
TEST(Framing, BodiesGivenBackServeTheNextLargeBody) {
  constexpr std::size_t kLarge = 3 << 20;
  constexpr std::size_t kHuge = LargeBuffers::kMaxBytes + 1;
  RecordingSource source(framed(kLarge, 'a') + framed(kLarge - 100, 'b') + framed(10, 'c') +
                             framed(kLarge + 100, 'd') + framed(kHuge, 'e') +
                             "Content-Length: 1000000000\r\n\r\nxyz",
                         64 * 1024);
  LargeBuffers spares;
  MessageReader reader(source, spares);
  const auto next_body = [&] {
    Frame frame = reader.next();
    EXPECT_TRUE(std::holds_alternative<std::string>(frame));
    return std::holds_alternative<std::string>(frame) ? std::get<std::string>(std::move(frame))
                                                      : std::string();
  };

  std::string first = next_body();
  EXPECT_EQ(first, std::string(kLarge, 'a'));
  const char* const storage = first.data();
  reader.give_back(std::move(first));

  std::string second = next_body();
  EXPECT_EQ(second, std::string(kLarge - 100, 'b'));
  EXPECT_EQ(second.data(), storage);
  reader.give_back(std::move(second));

  EXPECT_EQ(next_body(), std::string(10, 'c'));  // small bodies come from the buffer

  std::string larger = next_body();
  EXPECT_EQ(larger, std::string(kLarge + 100, 'd'));
  EXPECT_EQ(larger.data(), storage);
  reader.give_back(std::move(larger));
  const std::size_t held = reader.buffer_capacity();
  EXPECT_GE(held, kLarge + 100);

  std::string huge = next_body();
  EXPECT_EQ(huge.size(), kHuge);
  reader.give_back(std::move(huge));
  EXPECT_LT(reader.buffer_capacity(), kHuge);

  EXPECT_TRUE(std::holds_alternative<EndOfInput>(reader.next()));
  EXPECT_LT(reader.buffer_capacity(), kHuge);
}

}  // namespace
}  // namespace quib::lsp
