// The store's guarantees to concurrent readers while texts are replaced: a stored document is
// never seen as unknown, and every snapshot a reader gets is one that was stored.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "lsp/document_store.h"

namespace quib::lsp {
namespace {

const std::string kUri = "file:///Quibfile";

std::string text_of_version(int32_t version) {
  return "!version 0.1\nt" + std::to_string(version) + ":\n    echo " + std::to_string(version) +
         "\n";
}

TEST(DocumentStore, PutRemoveAndUnknown) {
  DocumentStore store;
  EXPECT_EQ(store.analyze_document(kUri), nullptr);
  store.put(kUri, text_of_version(1), 1);
  auto first = store.analyze_document(kUri);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->version, 1);
  EXPECT_EQ(first->text, text_of_version(1));

  store.put(kUri, text_of_version(2), 2);
  auto second = store.analyze_document(kUri);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->version, 2);
  // A reader that still holds the old snapshot keeps it whole.
  EXPECT_EQ(first->text, text_of_version(1));
  EXPECT_EQ(first->model.tasks.at(0).name, "t1");

  store.remove(kUri);
  EXPECT_EQ(store.analyze_document(kUri), nullptr);
}

TEST(DocumentStore, SnapshotKeepsNoTokenList) {
  DocumentStore store;
  store.put(kUri, text_of_version(1), 1);
  auto snapshot = store.analyze_document(kUri);
  ASSERT_NE(snapshot, nullptr);
  EXPECT_EQ(snapshot->parse_result.root.text(), snapshot->text);
  EXPECT_LE(snapshot->parse_result.tokens.size(), 1u);
}

// Readers racing a writer: while a text is replaced the document is never unknown, and the
// versions a reader sees never go backwards.
TEST(DocumentStore, ReadersNeverSeeADocumentMissingWhileItIsReplaced) {
  DocumentStore store;
  store.put(kUri, text_of_version(0), 0);
  constexpr int32_t kVersions = 200;
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      int32_t last = 0;
      while (!done.load()) {
        auto snapshot = store.analyze_document(kUri);
        if (snapshot == nullptr || snapshot->version < last ||
            snapshot->text != text_of_version(snapshot->version)) {
          failures.fetch_add(1);
          return;
        }
        last = snapshot->version;
      }
    });
  }
  for (int32_t version = 1; version <= kVersions; ++version) {
    store.put(kUri, text_of_version(version), version);
  }
  done.store(true);
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(store.analyze_document(kUri)->version, kVersions);
}

}  // namespace
}  // namespace quib::lsp
