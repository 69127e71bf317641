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

// A replaced or closed document lends its task list to the next analysis; whatever it held,
// the new model is the one a fresh analysis gives, and a snapshot a request still holds is
// left alone.
TEST(DocumentStore, ReusedTaskListsGiveFreshModels) {
  const std::vector<std::string> texts = {
      "a ? @os(\"x\"):\n    echo {{ v }}\n[help] h\nb(p=\"1\") & a:\n    | x\n    | y\n",
      "group g {\n    c:\n        echo\n}\n",
      "",
      "d:\n    echo 1\ne:\n    echo 2\nf:\n    echo 3\n",
  };
  const auto expect_fresh = [](const DocumentSnapshot& snapshot) {
    EXPECT_TRUE(snapshot.model == analyze(parse(std::string(snapshot.text)))) << snapshot.text;
  };
  DocumentStore store;
  int32_t version = 0;
  for (const std::string& text : texts) {
    store.put(kUri, text, ++version);
    expect_fresh(*store.analyze_document(kUri));
  }
  const std::shared_ptr<const DocumentSnapshot> held = store.analyze_document(kUri);
  store.put(kUri, texts[0], ++version);
  expect_fresh(*held);
  expect_fresh(*store.analyze_document(kUri));
  store.remove(kUri);
  store.put("file:///other", texts[1], 1);
  expect_fresh(*store.analyze_document("file:///other"));
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
