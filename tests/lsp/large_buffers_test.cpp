// The kept large buffer: only sizes worth keeping, the largest given, handed out once.
#include "lsp/large_buffers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quib::lsp {
namespace {

std::string with_capacity(std::size_t bytes) {
  std::string buffer;
  buffer.reserve(bytes);
  buffer.assign(10, 'x');
  return buffer;
}

struct KeepCase {
  const char* name;
  std::vector<std::size_t> given;  // capacities, in order
  std::size_t kept;                // the capacity kept at least, or 0 for none
};

class LargeBuffersTest : public ::testing::TestWithParam<KeepCase> {};

TEST_P(LargeBuffersTest, KeepsTheLargestWorthKeeping) {
  const KeepCase& c = GetParam();
  LargeBuffers buffers;
  for (std::size_t bytes : c.given) buffers.give(with_capacity(bytes));
  if (c.kept == 0) {
    EXPECT_EQ(buffers.kept_capacity(), 0u);
  } else {
    EXPECT_GE(buffers.kept_capacity(), c.kept);
    EXPECT_LT(buffers.kept_capacity(), 2 * c.kept);
  }
  const std::string taken = buffers.take();
  EXPECT_TRUE(taken.empty());
  EXPECT_EQ(taken.capacity() >= LargeBuffers::kMinBytes, c.kept != 0);
  EXPECT_EQ(buffers.kept_capacity(), 0u);
}

constexpr std::size_t kMin = LargeBuffers::kMinBytes;
constexpr std::size_t kMax = LargeBuffers::kMaxBytes;

INSTANTIATE_TEST_SUITE_P(
    Gifts, LargeBuffersTest,
    ::testing::Values(KeepCase{"Nothing", {}, 0}, KeepCase{"TooSmall", {kMin / 2}, 0},
                      KeepCase{"TooLarge", {kMax + 1}, 0}, KeepCase{"AtTheBounds", {kMin}, kMin},
                      KeepCase{"LargerReplaces", {kMin, 3 * kMin}, 3 * kMin},
                      KeepCase{"SmallerIsFreed", {3 * kMin, kMin}, 3 * kMin},
                      KeepCase{"TooLargeLeavesTheKeptOne", {2 * kMin, kMax + 1}, 2 * kMin}),
    [](const auto& info) { return std::string(info.param.name); });

// A shared text's storage goes to the process's buffers when its last holder lets go.
TEST(LargeBuffersTest, ReleasedSharedTextsLendTheirStorage) {
  large_buffers().take();
  std::string text(3 * kMin, 'q');
  const char* const storage = text.data();
  auto shared = shared_text(std::move(text));
  auto second_holder = shared;
  shared.reset();
  EXPECT_EQ(large_buffers().kept_capacity(), 0u);
  second_holder.reset();
  const std::string taken = large_buffers().take();
  EXPECT_EQ(taken.data(), storage);
  EXPECT_TRUE(taken.empty());
}

}  // namespace
}  // namespace quib::lsp
