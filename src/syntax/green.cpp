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

// A short text as two words that together cover every byte: for a given length, equal words
// mean equal texts. Fixed-size loads only; a libc call per token costs more than the work.
struct ShortText {
  uint64_t lo = 0;
  uint64_t hi = 0;
  bool operator==(const ShortText&) const = default;
};

ShortText load_short(std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  ShortText words;
  if (n > 8) {
    std::memcpy(&words.lo, p, 8);
    std::memcpy(&words.hi, p + n - 8, 8);
  } else if (n >= 4) {
    uint32_t head;
    uint32_t tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    words.lo = head | (uint64_t{tail} << 32);
  } else if (n != 0) {
    words.lo = static_cast<unsigned char>(p[0]) |
               static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
               static_cast<uint64_t>(static_cast<unsigned char>(p[n - 1])) << 16;
  }
  return words;
}

uint64_t token_tag(SyntaxKind kind, size_t len) {
  return static_cast<uint64_t>(kind) << 32 | len;
}

uint64_t token_hash(uint64_t tag, ShortText words) {
  return mix(mix(tag, words.lo), words.hi);
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

GreenBuilder::GreenBuilder()
    : arena_(new GreenArena()),
      one_byte_tokens_(size_t{kSyntaxKindCount} * 256),
      token_cache_(kCacheSlots),
      node_cache_(kCacheSlots) {}

GreenBuilder::~GreenBuilder() {
  if (arena_) arena_->release();
}

void GreenBuilder::start_node(SyntaxKind kind) {
  open_.push_back(OpenNode{kind, static_cast<uint32_t>(children_.size())});
}

void GreenBuilder::token(SyntaxKind kind, std::string_view text) {
  QUIB_ASSERT(!open_.empty(), "a token must be added inside a started node");
  const auto len = static_cast<uint32_t>(text.size());
  const GreenToken** one_byte = nullptr;
  if (len == 1) {
    one_byte =
        &one_byte_tokens_[static_cast<size_t>(kind) * 256 + static_cast<unsigned char>(text[0])];
    if (*one_byte) {
      children_.emplace_back(*one_byte);
      return;
    }
  }
  TokenSlot* slot = nullptr;
  ShortText words;
  uint64_t tag = 0;
  if (!one_byte && len <= kMaxCachedTokenLen) {
    words = load_short(text);
    tag = token_tag(kind, len);
    slot = &token_cache_[token_hash(tag, words) % kCacheSlots];
    if (slot->tag == tag && slot->lo == words.lo && slot->hi == words.hi && slot->token) {
      children_.emplace_back(slot->token);
      return;
    }
  }
  void* memory = arena_->allocate(sizeof(GreenToken) + len);
  auto* token = new (memory) GreenToken();
  token->header_ = GreenHeader{kind, true};
  token->len_ = len;
  if (len != 0) std::memcpy(static_cast<char*>(memory) + sizeof(GreenToken), text.data(), len);
  if (one_byte) *one_byte = token;
  if (slot) *slot = TokenSlot{tag, words.lo, words.hi, token};
  children_.emplace_back(token);
}

void GreenBuilder::finish_node() {
  QUIB_ASSERT(!open_.empty(), "finish_node without a matching start_node");
  const OpenNode open = open_.back();
  open_.pop_back();
  const GreenElement* first = children_.data() + open.first_child;
  const auto count = static_cast<uint32_t>(children_.size() - open.first_child);

  NodeSlot* slot = nullptr;
  uint64_t hash = 0;
  if (count <= kMaxCachedChildren) {
    hash = node_hash(open.kind, first, count);
    slot = &node_cache_[hash % kCacheSlots];
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
  if (slot) *slot = NodeSlot{hash, element};
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
