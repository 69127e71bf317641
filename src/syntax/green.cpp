#include "syntax/green.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "syntax/assert.h"

namespace quib {
namespace {

// Texts and child lists longer than these are rarely repeated; caching them costs more
// than it saves.
constexpr uint32_t kMaxCachedTokenLen = 32;
constexpr uint32_t kMaxCachedChildren = 3;

uint64_t mix(uint64_t h, uint64_t v) {
  h = (h ^ v) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

uint64_t hash_bytes(uint64_t h, std::string_view bytes) {
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, bytes.data() + i, 8);
    h = mix(h, chunk);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
  return mix(h, tail ^ (uint64_t{bytes.size()} << 56));
}

void destroy(const GreenHeader* element) {
  if (element->is_token) {
    auto* token = reinterpret_cast<const GreenToken*>(element);
    token->~GreenToken();
    ::operator delete(const_cast<GreenToken*>(token));
    return;
  }
  auto* node = reinterpret_cast<const GreenNode*>(element);
  for (uint32_t i = 0; i < node->child_count(); ++i) green_release(node->child(i).header());
  node->~GreenNode();
  ::operator delete(const_cast<GreenNode*>(node));
}

}  // namespace

void green_retain(const GreenHeader* element) {
  element->refs.fetch_add(1, std::memory_order_relaxed);
}

void green_release(const GreenHeader* element) {
  if (element->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy(element);
}

// Open-addressing hash set of green elements keyed by their content (kind and text for
// tokens, kind and child identities for nodes). Holds one reference to every entry.
class GreenBuilder::Cache {
 public:
  Cache() : slots_(1024) {}
  ~Cache() {
    for (const Slot& slot : slots_) {
      if (slot.element != GreenElement()) green_release(slot.element.header());
    }
  }

  const GreenToken* token(SyntaxKind kind, std::string_view text) {
    uint64_t hash = hash_bytes(static_cast<uint64_t>(kind) + 1, text);
    for (size_t i = hash & mask();; i = (i + 1) & mask()) {
      Slot& slot = slots_[i];
      if (slot.element == GreenElement()) return nullptr;
      const GreenToken* t = slot.element.as_token();
      if (slot.hash == hash && t && t->kind() == kind && t->text() == text) return t;
    }
  }

  const GreenNode* node(SyntaxKind kind, const GreenElement* children, uint32_t count) {
    uint64_t hash = node_hash(kind, children, count);
    for (size_t i = hash & mask();; i = (i + 1) & mask()) {
      Slot& slot = slots_[i];
      if (slot.element == GreenElement()) return nullptr;
      const GreenNode* n = slot.element.as_node();
      if (slot.hash == hash && n && n->kind() == kind && n->child_count() == count &&
          std::equal(children, children + count, n->children())) {
        return n;
      }
    }
  }

  void insert_token(const GreenToken* token) {
    insert(GreenElement(token),
           hash_bytes(static_cast<uint64_t>(token->kind()) + 1, token->text()));
  }
  void insert_node(const GreenNode* node) {
    insert(GreenElement(node), node_hash(node->kind(), node->children(), node->child_count()));
  }

 private:
  struct Slot {
    GreenElement element;
    uint64_t hash = 0;
  };

  static uint64_t node_hash(SyntaxKind kind, const GreenElement* children, uint32_t count) {
    uint64_t h = mix(0x51ED270B27EB2F1Dull, static_cast<uint64_t>(kind));
    for (uint32_t i = 0; i < count; ++i) {
      uintptr_t bits;
      std::memcpy(&bits, &children[i], sizeof bits);
      h = mix(h, bits);
    }
    return h;
  }

  size_t mask() const { return slots_.size() - 1; }

  void insert(GreenElement element, uint64_t hash) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    green_retain(element.header());
    place(element, hash);
    ++size_;
  }

  void place(GreenElement element, uint64_t hash) {
    size_t i = hash & mask();
    while (slots_[i].element != GreenElement()) i = (i + 1) & mask();
    slots_[i] = Slot{element, hash};
  }

  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.element != GreenElement()) place(slot.element, slot.hash);
    }
  }

  std::vector<Slot> slots_;
  size_t size_ = 0;
};

GreenBuilder::GreenBuilder() : cache_(new Cache()) {}

GreenBuilder::~GreenBuilder() {
  for (const GreenElement& child : children_) green_release(child.header());
  delete cache_;
}

void GreenBuilder::start_node(SyntaxKind kind) {
  open_.push_back(OpenNode{kind, static_cast<uint32_t>(children_.size())});
}

void GreenBuilder::token(SyntaxKind kind, std::string_view text) {
  QUIB_ASSERT(!open_.empty(), "a token must be added inside a started node");
  const auto len = static_cast<uint32_t>(text.size());
  if (len <= kMaxCachedTokenLen) {
    if (const GreenToken* cached = cache_->token(kind, text)) {
      green_retain(reinterpret_cast<const GreenHeader*>(cached));
      children_.emplace_back(cached);
      return;
    }
  }
  void* memory = ::operator new(sizeof(GreenToken) + len);
  auto* token = new (memory) GreenToken();
  token->header_.kind = kind;
  token->header_.is_token = true;
  token->len_ = len;
  if (len != 0) std::memcpy(static_cast<char*>(memory) + sizeof(GreenToken), text.data(), len);
  if (len <= kMaxCachedTokenLen) cache_->insert_token(token);
  children_.emplace_back(token);
}

void GreenBuilder::finish_node() {
  QUIB_ASSERT(!open_.empty(), "finish_node without a matching start_node");
  const OpenNode open = open_.back();
  open_.pop_back();
  const GreenElement* first = children_.data() + open.first_child;
  const auto count = static_cast<uint32_t>(children_.size() - open.first_child);

  const GreenNode* node = nullptr;
  if (count <= kMaxCachedChildren) {
    node = cache_->node(open.kind, first, count);
    if (node) {
      // The cached node already holds its own references to these children.
      for (uint32_t i = 0; i < count; ++i) green_release(first[i].header());
      green_retain(reinterpret_cast<const GreenHeader*>(node));
    }
  }
  if (!node) {
    void* memory = ::operator new(sizeof(GreenNode) + sizeof(GreenElement) * count);
    auto* fresh = new (memory) GreenNode();
    fresh->header_.kind = open.kind;
    fresh->header_.is_token = false;
    fresh->child_count_ = count;
    auto* slots = reinterpret_cast<GreenElement*>(fresh + 1);
    uint64_t len = 0;
    for (uint32_t i = 0; i < count; ++i) {
      new (slots + i) GreenElement(first[i]);  // ownership moves from children_
      len += first[i].text_len();
    }
    QUIB_ASSERT(len <= UINT32_MAX, "documents longer than 4 GiB are not supported");
    fresh->text_len_ = static_cast<uint32_t>(len);
    if (count <= kMaxCachedChildren) cache_->insert_node(fresh);
    node = fresh;
  }
  children_.resize(open.first_child);
  children_.emplace_back(node);
}

GreenNodePtr GreenBuilder::finish() {
  QUIB_ASSERT(open_.empty(), "finish called with unfinished nodes; was finish_node skipped?");
  QUIB_ASSERT(children_.size() == 1 && children_[0].is_node(),
              "a finished tree must have exactly one root node");
  const GreenNode* root = children_[0].as_node();
  children_.clear();
  return GreenNodePtr::adopt(root);
}

}  // namespace quib
