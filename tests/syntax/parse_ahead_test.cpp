// Parsing a text ahead while it is written: the parse that goes on from the prefix gives the tree
// of a whole parse, and a prefix goes only to the text it was parsed from.
#include "syntax/parse_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "syntax/parallel.h"
#include "syntax/tree_dump.h"

namespace quib {
namespace {

// Over ParseAhead's minimum, with groups, metadata and malformed items throughout.
const std::string& large_text() {
  static const std::string text = [] {
    std::string out = "!version 0.1\n";
    for (int i = 0; out.size() < ParseAhead::kMinStorageBytes + 64 * 1024; ++i) {
      const std::string n = std::to_string(i);
      if (i % 60 == 0) out += "group g" + n + " {\n";
      out += "[help] task " + n + "\n    t" + n + "(a, b=\"x\") & t0:\n        echo {{ a }}\n";
      if (i % 97 == 0) out += "!\n";
      out += "\n";
      if (i % 60 == 59) out += "}\n\n";
    }
    return out;
  }();
  return text;
}

std::string whole_parse(const std::string& text) {
  const ParseResult whole = parse(text);
  return dump_tree(whole.root, whole.diagnostics);
}

// Writes `text` into `storage` (longer than it, like a message body around a document text) a
// chunk at a time, pausing after each as a decoder's work would, and then ends `storage` at the
// text's end.
void write_ahead(ParseAhead& ahead, std::string& storage, const std::string& text, size_t chunk) {
  ahead.begin(storage);
  for (size_t at = 0; at < text.size(); at += chunk) {
    const size_t bytes = std::min(chunk, text.size() - at);
    std::memcpy(storage.data() + at, text.data() + at, bytes);
    ahead.advance(at + bytes);
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
    while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
  }
  ahead.end();
  storage.resize(text.size());
}

// Runs `attempt` until it returns true, at most a few dozen times. A parse ahead leaves no prefix
// when the helper is not scheduled before its text ends, which a busy machine may do to any one
// attempt; an attempt returns whether its prefix was there, so that the checks it made about
// where the prefix goes were made about a prefix that existed.
bool with_a_prefix(const std::function<bool()>& attempt) {
  for (int tries = 0; tries < 50; ++tries) {
    if (attempt()) return true;
  }
  return false;
}

TEST(ParseAhead, TheParseGoesOnFromThePrefixOfItsText) {
  const std::string& text = large_text();
  const std::string expected = whole_parse(text);
  for (const size_t chunk : {size_t{4096}, size_t{64 * 1024}}) {
    SCOPED_TRACE(testing::Message() << "chunk " << chunk);
    ParseAhead ahead;
    std::string storage;
    ParsedPrefixPtr prefix;
    ASSERT_TRUE(with_a_prefix([&] {
      storage.assign(text.size() + 4096, '{');
      write_ahead(ahead, storage, text, chunk);
      prefix = ahead.take(storage);
      return prefix != nullptr;
    }));
    EXPECT_EQ(ahead.take(storage), nullptr) << "a prefix is taken once";
    const ParseResult parsed =
        parse_tree(std::make_shared<const std::string>(storage), {}, 0, std::move(prefix));
    EXPECT_EQ(dump_tree(parsed.root, parsed.diagnostics), expected);
  }
}

// A prefix is only for the text in the storage it was parsed from (or was said to be moved to),
// as the last text ended there, and only until the next text begins or it is forgotten; a small
// text is not parsed ahead.
TEST(ParseAhead, APrefixGoesOnlyToItsOwnText) {
  const std::string& text = large_text();
  ParseAhead ahead;
  std::string storage;
  EXPECT_TRUE(with_a_prefix([&] {
    storage.assign(text.size() + 4096, '{');
    write_ahead(ahead, storage, text, 16 * 1024);
    EXPECT_EQ(ahead.take(std::string(storage)), nullptr) << "the same text in other storage";
    storage.push_back('\n');  // within its capacity: the same storage, another text
    EXPECT_EQ(ahead.take(storage), nullptr);
    storage.pop_back();
    return ahead.take(storage) != nullptr;
  }));

  write_ahead(ahead, storage, text, 16 * 1024);
  std::string small(ParseAhead::kMinStorageBytes - 1, '\n');
  write_ahead(ahead, small, std::string(small.size(), '\n'), 4096);
  EXPECT_EQ(ahead.take(storage), nullptr) << "a later text began";
  EXPECT_EQ(ahead.take(small), nullptr) << "too small to parse ahead";

  storage.resize(text.size() + 4096);
  write_ahead(ahead, storage, text, 16 * 1024);
  ahead.forget();
  EXPECT_EQ(ahead.take(storage), nullptr);

  EXPECT_TRUE(with_a_prefix([&] {
    storage.resize(text.size() + 4096);
    write_ahead(ahead, storage, text, 16 * 1024);
    const std::string copy = storage;
    ahead.moved(copy);
    EXPECT_EQ(ahead.take(storage), nullptr) << "the text was moved out of its storage";
    return ahead.take(copy) != nullptr;
  }));
}

// Once `end` has returned, the helper is done with the parse ahead, its bookkeeping included:
// a text begun at once is parsed ahead too, and the object may go.
TEST(ParseAhead, TheHelperIsFreeOnceATextEnds) {
  auto job = [] {};
  using Job = decltype(job);
  const detail::JobRef ref{&job, [](void* callable) { (*static_cast<Job*>(callable))(); }};
  for (int round = 0; round < 200; ++round) {
    std::string storage(ParseAhead::kMinStorageBytes, '\n');
    {
      ParseAhead ahead;
      ahead.begin(storage);
      ahead.advance(storage.size());
      ahead.end();
    }
    std::atomic<bool> yield = false;
    ASSERT_TRUE(detail::start_background_on_helper(ref, yield)) << "round " << round;
    detail::wait_for_background_job(ref);
  }
}

// Splits on another thread take the helper from the parse ahead whenever they want it; the parse
// gives way, and what it got to is still a prefix of the text.
TEST(ParseAhead, SplitsMeanwhileTakeTheHelperFirst) {
  const std::string& text = large_text();
  const std::string expected = whole_parse(text);
  ParseAhead ahead;
  std::string storage(text.size() + 4096, '{');
  std::atomic<bool> started = false;
  std::atomic<bool> writing = true;
  std::atomic<int> splits = 0;
  std::thread splitter([&] {
    started = true;
    do {
      run_in_parallel([] {}, [&] { ++splits; });
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    } while (writing.load());
  });
  // On a busy machine the thread may start only after a quick parse ahead is over.
  while (!started.load()) std::this_thread::yield();
  write_ahead(ahead, storage, text, 4096);
  writing = false;
  splitter.join();
  EXPECT_GT(splits.load(), 0);
  ParsedPrefixPtr prefix = ahead.take(storage);
  const ParseResult parsed =
      parse_tree(std::make_shared<const std::string>(storage), {}, 0, std::move(prefix));
  EXPECT_EQ(dump_tree(parsed.root, parsed.diagnostics), expected);
}

}  // namespace
}  // namespace quib
