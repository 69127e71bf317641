// Tests of the index table behind the whole-file lookups: the first index stored for an item
// stands for every later equal item, whatever the hashes collide on, up to a full table.
#include "semantic/index_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {
namespace {

struct IndexTableCase {
  std::string_view label;
  std::vector<std::string> names;  // inserted in order, item i under index i
  bool colliding;                  // every item gets the same hash
  // For each name: the index insert returned, i.e. the first index holding that name.
  std::vector<uint32_t> first;
};

class IndexTableInsert : public testing::TestWithParam<IndexTableCase> {};

TEST_P(IndexTableInsert, FirstEqualItemStandsForLaterOnes) {
  const IndexTableCase& c = GetParam();
  const auto hash = [&](std::string_view name) { return c.colliding ? 7 : hash_text(name); };
  IndexTable table(c.names.size());
  for (uint32_t i = 0; i < c.names.size(); ++i) {
    const uint32_t first = table.insert(
        hash(c.names[i]), i, [&](uint32_t other) { return c.names[other] == c.names[i]; });
    EXPECT_EQ(first, c.first[i]) << c.label << ": " << c.names[i];
  }
  for (uint32_t i = 0; i < c.names.size(); ++i) {
    const std::string& name = c.names[i];
    const auto found =
        table.find(hash(name), [&](uint32_t other) { return c.names[other] == name; });
    EXPECT_EQ(found, c.first[i]) << c.label << ": " << name;
  }
  EXPECT_EQ(table.find(hash("absent"), [&](uint32_t other) { return c.names[other] == "absent"; }),
            std::nullopt)
      << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    IndexTable, IndexTableInsert,
    testing::Values(IndexTableCase{"empty", {}, false, {}},
                    IndexTableCase{"distinct", {"a", "b", "c"}, false, {0, 1, 2}},
                    IndexTableCase{"repeats", {"a", "b", "a", "b", "a"}, false, {0, 1, 0, 1, 0}},
                    IndexTableCase{"colliding hashes", {"a", "b", "a", "c"}, true, {0, 1, 0, 3}},
                    IndexTableCase{"empty name", {"", "x", ""}, false, {0, 1, 0}}));

// Filled to its capacity with distinct items, every probe still ends and finds its item.
TEST(IndexTable, FullTableFindsEveryItem) {
  std::vector<std::string> names;
  for (int i = 0; i < 1000; ++i) names.push_back("task-" + std::to_string(i));
  IndexTable table(names.size());
  for (uint32_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(table.insert(hash_text(names[i]), i,
                           [&](uint32_t other) { return names[other] == names[i]; }),
              i);
  }
  for (uint32_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(
        table.find(hash_text(names[i]), [&](uint32_t other) { return names[other] == names[i]; }),
        i);
  }
}

}  // namespace
}  // namespace quib
