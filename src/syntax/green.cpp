#include "syntax/green.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "syntax/assert.h"

namespace quib {
namespace {

// Longer texts and child lists are rarely repeated; caching them costs more than it saves.
constexpr uint32_t kMaxCachedTokenLen = 16;
constexpr uint32_t kMaxCachedChildren = 3;
// The cache is direct-mapped and lossy: a colliding entry replaces the older one. Sharing is
// an optimisation, so losing some keeps every lookup one probe without any growth.
constexpr size_t kCacheSlots = 4096;

uint64_t mix(uint64_t h, uint64_t v) {
  h = (h ^ v) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

uint64_t token_hash(SyntaxKind kind, std::string_view text) {
  uint64_t lo = 0;
  uint64_t hi = 0;
  std::memcpy(&lo, text.data(), std::min<size_t>(text.size(), 8));
  if (text.size() > 8) std::memcpy(&hi, text.data() + 8, text.size() - 8);
  return mix(mix(static_cast<uint64_t>(kind) << 8 | text.size(), lo), hi) | 1;
}

uint64_t node_hash(SyntaxKind kind, const GreenElement* children, uint32_t count) {
  uint64_t h = mix(0x51ED270B27EB2F1Dull, static_cast<uint64_t>(kind) << 8 | count);
  for (uint32_t i = 0; i < count; ++i) h = mix(h, children[i].bits());
  return h | 1;
}

}  // namespace

GreenArena::~GreenArena() {
  for (char* block : blocks_) delete[] block;
}

void* GreenArena::allocate(size_t size) {
  size = (size + 7) & ~size_t{7};
  if (size > left_) {
    if (block_size_ < 1024 * 1024) block_size_ *= 2;
    const size_t block = std::max(block_size_, size);
    next_ = new char[block];
    left_ = block;
    blocks_.push_back(next_);
  }
  void* result = next_;
  next_ += size;
  left_ -= size;
  return result;
}

GreenBuilder::GreenBuilder() : arena_(new GreenArena()), cache_(kCacheSlots) {}

GreenBuilder::~GreenBuilder() {
  if (arena_) arena_->release();
}

void GreenBuilder::start_node(SyntaxKind kind) {
  open_.push_back(OpenNode{kind, static_cast<uint32_t>(children_.size())});
}

void GreenBuilder::token(SyntaxKind kind, std::string_view text) {
  QUIB_ASSERT(!open_.empty(), "a token must be added inside a started node");
  const auto len = static_cast<uint32_t>(text.size());
  CacheSlot* slot = nullptr;
  uint64_t hash = 0;
  if (len <= kMaxCachedTokenLen) {
    hash = token_hash(kind, text);
    slot = &cache_[hash % kCacheSlots];
    if (slot->hash == hash) {
      const GreenToken* cached = slot->element.as_token();
      if (cached && cached->kind() == kind && cached->text() == text) {
        children_.push_back(slot->element);
        return;
      }
    }
  }
  void* memory = arena_->allocate(sizeof(GreenToken) + len);
  auto* token = new (memory) GreenToken();
  token->header_ = GreenHeader{kind, true};
  token->len_ = len;
  if (len != 0) std::memcpy(static_cast<char*>(memory) + sizeof(GreenToken), text.data(), len);
  const GreenElement element(token);
  if (slot) *slot = CacheSlot{hash, element};
  children_.push_back(element);
}

void GreenBuilder::finish_node() {
  QUIB_ASSERT(!open_.empty(), "finish_node without a matching start_node");
  const OpenNode open = open_.back();
  open_.pop_back();
  const GreenElement* first = children_.data() + open.first_child;
  const auto count = static_cast<uint32_t>(children_.size() - open.first_child);

  CacheSlot* slot = nullptr;
  uint64_t hash = 0;
  if (count <= kMaxCachedChildren) {
    hash = node_hash(open.kind, first, count);
    slot = &cache_[hash % kCacheSlots];
    const GreenNode* cached = slot->hash == hash ? slot->element.as_node() : nullptr;
    if (cached && cached->kind() == open.kind && cached->child_count() == count &&
        std::equal(first, first + count, cached->children())) {
      children_.resize(open.first_child);
      children_.push_back(slot->element);
      return;
    }
  }
  void* memory = arena_->allocate(sizeof(GreenNode) + sizeof(GreenElement) * count);
  auto* node = new (memory) GreenNode();
  node->header_ = GreenHeader{open.kind, false};
  node->child_count_ = count;
  auto* slots = reinterpret_cast<GreenElement*>(node + 1);
  uint64_t len = 0;
  for (uint32_t i = 0; i < count; ++i) {
    new (slots + i) GreenElement(first[i]);
    len += first[i].text_len();
  }
  QUIB_ASSERT(len <= UINT32_MAX, "documents longer than 4 GiB are not supported");
  node->text_len_ = static_cast<uint32_t>(len);
  const GreenElement element(node);
  if (slot) *slot = CacheSlot{hash, element};
  children_.resize(open.first_child);
  children_.push_back(element);
}

GreenNodePtr GreenBuilder::finish() {
  QUIB_ASSERT(open_.empty(), "finish called with unfinished nodes; was finish_node skipped?");
  QUIB_ASSERT(children_.size() == 1 && children_[0].is_node(),
              "a finished tree must have exactly one root node");
  const GreenNode* root = children_[0].as_node();
  children_.clear();
  GreenArena* arena = arena_;
  arena_ = nullptr;
  return GreenNodePtr::adopt(arena, root);
}

}  // namespace quib
