#include "syntax/green.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

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

uint64_t node_hash(SyntaxKind kind, const uint32_t* children, uint32_t count) {
  uint64_t h = mix(0x51ED270B27EB2F1Dull, static_cast<uint64_t>(kind) << 8 | count);
  for (uint32_t i = 0; i < count; ++i) h = mix(h, children[i]);
  return h | 1;
}

// The first capacity of an arena buffer without a better estimate; it doubles from there.
constexpr size_t kFirstArenaCapacity = 16 * 1024;
// Arena bytes reserved per expected token: a little above what parsed files take (about 5.2),
// so that the buffer rarely grows; seal() gives back what was not used.
constexpr size_t kArenaBytesPerToken = 6;

// Buffers of at least this size are handed on when their tree is dropped; below it, the heap
// reuses freed memory without page faults on its own.
constexpr size_t kMinSpareCapacity = 1024 * 1024;

// The buffer of the most recently dropped large tree (or the one a growing tree left for a
// spare), kept for the next tree of about its size: re-parsing a changed document is the
// common case, and fresh memory for a large buffer costs a page fault per page, which a reused
// one has already paid. Lock-free, so that trees
// are built and dropped on any thread without a lock. A held buffer's contents are dead; its
// first bytes record its capacity.
// Invariant: holds at most one buffer, of at least kMinSpareCapacity bytes; every buffer is
// either held here, owned by one arena, or freed.
class SpareBuffer {
 public:
  // The spare if its capacity lies within [low, high]; otherwise nothing, and the spare stays
  // for a tree it fits.
  std::pair<char*, size_t> take(size_t low, size_t high) {
    char* data = data_.exchange(nullptr, std::memory_order_acquire);
    if (!data) return {nullptr, 0};
    size_t held;
    std::memcpy(&held, data, sizeof held);
    if (held >= low && held <= high) return {data, held};
    // Put it back, unless a newer spare arrived meanwhile: that one is as good.
    char* empty = nullptr;
    if (!data_.compare_exchange_strong(empty, data, std::memory_order_release)) std::free(data);
    return {nullptr, 0};
  }
  // Keeps `data` for the next tree and frees the older spare.
  void give(char* data, size_t capacity) {
    std::memcpy(data, &capacity, sizeof capacity);
    std::free(data_.exchange(data, std::memory_order_acq_rel));
  }

 private:
  std::atomic<char*> data_{nullptr};
};

// Never destroyed: trees may be dropped during static destruction or on detached threads.
SpareBuffer& spare_buffer() {
  static auto* spare = new SpareBuffer();
  return *spare;
}

// Elements sit at arena offsets that are multiples of kAlign, a node's links follow it
// directly, and the low bit of every offset, link and element pointer is the token tag.
static_assert(GreenArena::kAlign >= 2 && GreenArena::kAlign % alignof(GreenNode) == 0 &&
              GreenArena::kAlign % alignof(GreenToken) == 0);
static_assert(sizeof(GreenNode) % alignof(uint32_t) == 0);

}  // namespace

GreenArena::~GreenArena() {
  // A lent tail never taken in is back (its borrower's tree is gone) or its buffer freed.
  end_lending();
  if (borrowed_) return;
  if (keep_buffer_ && capacity_ >= kMinSpareCapacity) {
    spare_buffer().give(data_, capacity_);
  } else {
    std::free(data_);
  }
}

uint32_t GreenArena::allocate(size_t size) {
  size = (size + (kAlign - 1)) & ~size_t{kAlign - 1};
  const size_t offset = size_;
  QUIB_ASSERT(size <= UINT32_MAX - offset, "documents longer than 4 GiB are not supported");
  if (size > capacity_ - offset) {
    reserve(std::max({kFirstArenaCapacity, capacity_ * 2, offset + size}));
  }
  size_ = offset + size;
  return static_cast<uint32_t>(offset);
}

void GreenArena::reserve(size_t capacity) {
  // Never beyond what 32-bit offsets address: no tree may grow that far anyway.
  capacity = std::min<size_t>(capacity, UINT32_MAX);
  if (capacity <= capacity_) return;
  if (borrowed_ || (lent_capacity_ != 0 && !lent_buffer_)) {
    move_to_own_buffer(capacity);
    return;
  }
  if (capacity >= kMinSpareCapacity) {
    // A buffer already paged in serves better than fresh memory, also for a tree that has
    // outgrown its first buffer: its elements so far move over.
    // A tree expected to take `capacity` bytes fits a spare within a factor of two of it.
    const auto [spare, spare_capacity] = spare_buffer().take(capacity / 2, capacity * 2);
    if (spare) {
      if (size_ != 0) std::memcpy(spare, data_, size_);
      // The buffer left behind is paged in too: large, it is the next spare (the tree of a
      // document's next version begins in it while this one is still in use).
      if (capacity_ >= kMinSpareCapacity) {
        spare_buffer().give(data_, capacity_);
      } else {
        std::free(data_);
      }
      data_ = spare;
      capacity_ = spare_capacity;
      if (capacity <= capacity_) return;
    }
  }
  void* grown = std::realloc(data_, capacity);
  if (!grown) throw std::bad_alloc();
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
}

void GreenArena::take_spare(size_t capacity) {
  if (data_ || capacity < kMinSpareCapacity) return;
  // A smaller spare serves too: the tree may never grow to its expected size (a prefix of a
  // text), and it grows from the spare by realloc, not from nothing by doubling.
  const auto [spare, spare_capacity] =
      spare_buffer().take(kMinSpareCapacity, std::min<size_t>(capacity, UINT32_MAX) * 2);
  data_ = spare;
  capacity_ = spare_capacity;
}

void GreenArena::move_to_own_buffer(size_t capacity) {
  char* own = static_cast<char*>(std::malloc(capacity));
  if (!own) throw std::bad_alloc();
  if (size_ != 0) std::memcpy(own, data_, size_);
  if (borrowed_) {
    borrowed_ = false;
  } else {
    lent_buffer_ = data_;
  }
  data_ = own;
  capacity_ = capacity;
}

void GreenArena::lend_tail(size_t bytes, GreenArena& borrower) {
  QUIB_ASSERT(lent_capacity_ == 0 && !borrowed_ && borrower.data_ == nullptr,
              "an arena lends one tail at a time, to a new arena");
  // The tail starts on an element boundary, so that the borrower's elements are aligned.
  const size_t start = capacity_ - std::min(bytes, capacity_ - size_);
  const size_t offset = (start + (kAlign - 1)) & ~size_t{kAlign - 1};
  // An empty tail is no loan: the borrower then starts with a buffer of its own.
  if (offset >= capacity_) return;
  borrower.data_ = data_ + offset;
  borrower.capacity_ = capacity_ - offset;
  borrower.borrowed_ = true;
  lent_capacity_ = capacity_;
  capacity_ = offset;
}

void GreenArena::end_lending() {
  if (lent_capacity_ == 0) return;
  if (lent_buffer_) {
    std::free(lent_buffer_);
    lent_buffer_ = nullptr;
  } else {
    capacity_ = lent_capacity_;
  }
  lent_capacity_ = 0;
}

uint32_t GreenArena::take_in(const GreenArena& source) {
  // Until the elements are out, a buffer this arena has left may still hold them.
  const bool source_in_left_buffer = source.borrowed_ && lent_buffer_;
  if (!source_in_left_buffer) end_lending();
  // A borrower still in this buffer lies past every element here, so the space for it comes
  // from below it without regrowing the buffer, and moving it down is one overlapping move.
  const uint32_t base = allocate(source.size_);
  if (source.size_ != 0) std::memmove(data_ + base, source.data_, source.size_);
  end_lending();
  return base;
}

void GreenArena::seal() {
  // A tail never taken in is back: its borrower's tree was dropped.
  end_lending();
  // A large tree keeps a sixteenth to spare: its buffer becomes the next tree's spare, and the
  // tree of the document's next version, a little larger, then fits the pages already in
  // memory instead of touching fresh ones past them.
  const size_t kept = size_ >= kMinSpareCapacity ? size_ + size_ / 16 : size_;
  if (borrowed_ || kept >= capacity_) return;
  // Shrinking in place never fails in practice; if it does, the larger buffer still serves.
  if (void* shrunk = std::realloc(data_, kept)) {
    data_ = static_cast<char*>(shrunk);
    capacity_ = kept;
  }
}

GreenBuilder::GreenBuilder(size_t expected_tokens)
    : arena_(new GreenArena()),
      one_byte_tokens_(size_t{kSyntaxKindCount} * 256),
      token_cache_(kCacheSlots),
      node_cache_(kCacheSlots) {
  if (expected_tokens != 0) arena_->reserve(expected_tokens * kArenaBytesPerToken);
}

void GreenBuilder::reserve(size_t expected_tokens) {
  arena_->reserve(expected_tokens * kArenaBytesPerToken);
}

void GreenBuilder::reserve_from_spare(size_t expected_tokens) {
  arena_->take_spare(expected_tokens * kArenaBytesPerToken);
}

GreenBuilder::GreenBuilder(GreenBuilder& lender, size_t expected_tokens) : GreenBuilder() {
  lender.arena_->lend_tail(expected_tokens * kArenaBytesPerToken, *arena_);
}

GreenBuilder::~GreenBuilder() {
  if (arena_) arena_->release();
}

void GreenBuilder::start_node(SyntaxKind kind) {
  open_.push_back(OpenNode{kind, static_cast<uint32_t>(children_.size()), 0});
}

GreenElement GreenBuilder::element(Ref ref) const {
  const char* at = arena_->at(ref & ~Ref{1});
  return ref & 1 ? GreenElement(reinterpret_cast<const GreenToken*>(at))
                 : GreenElement(reinterpret_cast<const GreenNode*>(at));
}

// Defined ahead of the token adders so that the bulk one, which adds most tokens, inlines it:
// nearly every token is found in a cache, a few loads and compares, less than a call's cost.
GreenBuilder::Ref GreenBuilder::intern_token(SyntaxKind kind, std::string_view text) {
  const auto len = static_cast<uint32_t>(text.size());
  if (len == 1) {
    Ref& shared =
        one_byte_tokens_[static_cast<size_t>(kind) * 256 + static_cast<unsigned char>(text[0])];
    if (!shared) shared = new_token(kind, text);
    return shared;
  }
  if (len > kMaxCachedTokenLen) return new_token(kind, text);
  const ShortText words = load_short(text);
  const uint64_t tag = token_tag(kind, len);
  TokenSlot& slot = token_cache_[token_hash(tag, words) % kCacheSlots];
  if (slot.tag == tag && slot.lo == words.lo && slot.hi == words.hi && slot.token) {
    return slot.token;
  }
  const Ref made = new_token(kind, text);
  slot = TokenSlot{tag, words.lo, words.hi, made};
  return made;
}

void GreenBuilder::token(SyntaxKind kind, std::string_view text) {
  QUIB_ASSERT(!open_.empty(), "a token must be added inside a started node");
  open_.back().text_len += text.size();
  children_.push_back(intern_token(kind, text));
}

void GreenBuilder::tokens(const SyntaxKind* kinds, const uint32_t* starts, const char* source,
                          uint32_t count) {
  QUIB_ASSERT(!open_.empty(), "a token must be added inside a started node");
  open_.back().text_len += starts[count] - starts[0];
  const size_t first = children_.size();
  children_.resize(first + count);
  // Resizing may move the list, and interning never touches it: the pointer is taken after.
  Ref* out = children_.data() + first;
  for (uint32_t i = 0; i < count; ++i) {
    out[i] =
        intern_token(kinds[i], std::string_view(source + starts[i], starts[i + 1] - starts[i]));
  }
}

GreenBuilder::Ref GreenBuilder::new_token(SyntaxKind kind, std::string_view text) {
  const auto len = static_cast<uint32_t>(text.size());
  const uint32_t offset = arena_->allocate(sizeof(GreenToken) + len);
  char* memory = arena_->at(offset);
  auto* token = new (memory) GreenToken();
  token->header_ = GreenHeader{kind, true, len};
  if (len != 0) std::memcpy(memory + sizeof(GreenToken), text.data(), len);
  return offset | 1;
}

void GreenBuilder::finish_node() {
  QUIB_ASSERT(!open_.empty(), "finish_node without a matching start_node");
  const OpenNode open = open_.back();
  open_.pop_back();
  QUIB_ASSERT(open.text_len <= UINT32_MAX, "documents longer than 4 GiB are not supported");
  const auto len = static_cast<uint32_t>(open.text_len);
  if (!open_.empty()) open_.back().text_len += len;
  const auto count = static_cast<uint32_t>(children_.size() - open.first_child);

  NodeSlot* slot = nullptr;
  uint64_t hash = 0;
  if (count <= kMaxCachedChildren) {
    const Ref* first = children_.data() + open.first_child;
    hash = node_hash(open.kind, first, count);
    slot = &node_cache_[hash % kCacheSlots];
    if (slot->hash == hash) {
      const GreenNode& cached = *element(slot->node).as_node();
      bool same = cached.kind() == open.kind && cached.child_count() == count;
      for (uint32_t i = 0; same && i < count; ++i) same = cached.child(i) == element(first[i]);
      if (same) {
        children_.resize(open.first_child);
        children_.push_back(slot->node);
        return;
      }
    }
  }
  const uint32_t offset = arena_->allocate(sizeof(GreenNode) + sizeof(uint32_t) * count);
  char* memory = arena_->at(offset);
  auto* node = new (memory) GreenNode();
  node->header_ = GreenHeader{open.kind, false, len};
  node->child_count_ = count;
  auto* links = reinterpret_cast<uint32_t*>(node + 1);
  const Ref* first = children_.data() + open.first_child;
  for (uint32_t i = 0; i < count; ++i) {
    // The child is earlier in the arena, so the distance is positive and keeps the alignment
    // of both, leaving the low bit to the tag.
    links[i] = (offset - (first[i] & ~Ref{1})) | (first[i] & 1);
  }
  if (slot) *slot = NodeSlot{hash, offset};
  children_.resize(open.first_child);
  children_.push_back(offset);
}

void GreenBuilder::adopt_children(GreenNodePtr tree) {
  QUIB_ASSERT(!open_.empty(), "children must be adopted into a started node");
  const GreenArena& source = *tree.arena_;
  const auto root_offset =
      static_cast<uint32_t>(reinterpret_cast<const char*>(tree.get()) - source.data());
  // Offsets in the source arena are multiples of kAlign and so is `base`: the moved elements
  // keep their alignment, and their self-relative links stay valid, so the root is read where
  // it now lies.
  const uint32_t base = arena_->take_in(source);
  const auto& root = *reinterpret_cast<const GreenNode*>(arena_->at(base + root_offset));
  const char* const data = arena_->data();
  open_.back().text_len += root.text_len();
  children_.reserve(children_.size() + root.child_count());
  for (uint32_t i = 0; i < root.child_count(); ++i) {
    const GreenElement child = root.child(i);
    const auto offset = static_cast<uint32_t>(reinterpret_cast<const char*>(child.header()) - data);
    children_.push_back(offset | Ref{child.is_token()});
  }
  // The elements live on here; a buffer of the source's own would only hold memory as a spare.
  tree.arena_->free_buffer_when_released();
}

GreenNodePtr GreenBuilder::finish() {
  QUIB_ASSERT(open_.empty(), "finish called with unfinished nodes; was finish_node skipped?");
  QUIB_ASSERT(children_.size() == 1 && !(children_[0] & 1),
              "a finished tree must have exactly one root node");
  arena_->seal();
  const GreenNode* root = element(children_[0]).as_node();
  children_.clear();
  GreenArena* arena = arena_;
  arena_ = nullptr;
  return GreenNodePtr::adopt(arena, root);
}

}  // namespace quib
