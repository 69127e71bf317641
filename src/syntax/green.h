// The green layer of the syntax tree: immutable, position-free nodes and tokens shared by
// atomic reference counts, and the GreenBuilder that makes them. Offsets, parents and
// navigation live in the red layer (syntax_node.h), not here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "syntax/syntax_kind.h"

namespace quib {

class GreenNode;
class GreenToken;

// Every green element of one tree lives in one arena: building is a bump allocation per
// element and dropping a tree frees a few blocks instead of walking every element. The arena
// is shared by an atomic reference count; elements are shared by pointer within their arena
// (the builder's cache makes identical small elements one object), and never across trees.
class GreenArena {
 public:
  GreenArena() = default;
  GreenArena(const GreenArena&) = delete;
  GreenArena& operator=(const GreenArena&) = delete;
  ~GreenArena();

  // `size` bytes aligned to 8, valid until the arena is destroyed.
  void* allocate(size_t size);
  void retain() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  std::atomic<uint32_t> refs_{1};
  std::vector<char*> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
  size_t block_size_ = 16 * 1024;
};

// Header shared by both green element types.
struct GreenHeader {
  SyntaxKind kind;
  bool is_token;
};

// A token: kind and text. The text is stored directly after the object.
class GreenToken {
 public:
  SyntaxKind kind() const { return header_.kind; }
  std::string_view text() const { return {reinterpret_cast<const char*>(this + 1), len_}; }
  uint32_t text_len() const { return len_; }

 private:
  friend class GreenBuilder;
  GreenHeader header_;
  uint32_t len_ = 0;
};

// A child of a green node: a node or a token, as one tagged pointer.
class GreenElement {
 public:
  GreenElement() = default;
  explicit GreenElement(const GreenNode* node) : bits_(reinterpret_cast<uintptr_t>(node)) {}
  explicit GreenElement(const GreenToken* token) : bits_(reinterpret_cast<uintptr_t>(token) | 1u) {}

  bool is_token() const { return bits_ & 1u; }
  bool is_node() const { return !is_token(); }
  const GreenNode* as_node() const {
    return is_token() ? nullptr : reinterpret_cast<const GreenNode*>(bits_);
  }
  const GreenToken* as_token() const {
    return is_token() ? reinterpret_cast<const GreenToken*>(bits_ & ~uintptr_t{1}) : nullptr;
  }
  const GreenHeader* header() const {
    return reinterpret_cast<const GreenHeader*>(bits_ & ~uintptr_t{1});
  }
  SyntaxKind kind() const { return header()->kind; }
  uint32_t text_len() const;
  uintptr_t bits() const { return bits_; }
  bool operator==(const GreenElement&) const = default;

 private:
  uintptr_t bits_ = 0;
};

// A node: kind, ordered children and the total text length of its subtree. The children
// array is stored directly after the object.
// Invariant: text_len() == sum of the children's text lengths.
class alignas(8) GreenNode {
 public:
  SyntaxKind kind() const { return header_.kind; }
  uint32_t text_len() const { return text_len_; }
  uint32_t child_count() const { return child_count_; }
  const GreenElement* children() const { return reinterpret_cast<const GreenElement*>(this + 1); }
  const GreenElement& child(uint32_t index) const { return children()[index]; }

 private:
  friend class GreenBuilder;
  GreenHeader header_;
  uint32_t text_len_ = 0;
  uint32_t child_count_ = 0;
};

inline uint32_t GreenElement::text_len() const {
  return is_token() ? as_token()->text_len() : as_node()->text_len();
}

// Owning handle to a green root: keeps the arena of its tree alive.
class GreenNodePtr {
 public:
  GreenNodePtr() = default;
  // Adopts one arena reference that the caller already holds.
  static GreenNodePtr adopt(GreenArena* arena, const GreenNode* node) {
    GreenNodePtr p;
    p.arena_ = arena;
    p.node_ = node;
    return p;
  }
  GreenNodePtr(const GreenNodePtr& other) : arena_(other.arena_), node_(other.node_) {
    if (arena_) arena_->retain();
  }
  GreenNodePtr(GreenNodePtr&& other) noexcept : arena_(other.arena_), node_(other.node_) {
    other.arena_ = nullptr;
    other.node_ = nullptr;
  }
  GreenNodePtr& operator=(GreenNodePtr other) noexcept {
    std::swap(arena_, other.arena_);
    std::swap(node_, other.node_);
    return *this;
  }
  ~GreenNodePtr() {
    if (arena_) arena_->release();
  }
  const GreenNode* get() const { return node_; }
  const GreenNode* operator->() const { return node_; }
  explicit operator bool() const { return node_ != nullptr; }

 private:
  GreenArena* arena_ = nullptr;
  const GreenNode* node_ = nullptr;
};

// Builds one green tree bottom-up: start_node / token / finish_node, then finish.
// Identical short tokens and identical small nodes made during one build are shared through
// a hash-keyed cache that lives as long as the builder.
// Invariant: every start_node is matched by one finish_node before finish().
class GreenBuilder {
 public:
  GreenBuilder();
  ~GreenBuilder();
  GreenBuilder(const GreenBuilder&) = delete;
  GreenBuilder& operator=(const GreenBuilder&) = delete;

  void start_node(SyntaxKind kind);
  void token(SyntaxKind kind, std::string_view text);
  void finish_node();
  // The single root node; the builder must be balanced and must have built exactly one node
  // at the top level. The builder is spent afterwards.
  GreenNodePtr finish();

 private:
  // A cached short token, compared without touching the token itself.
  struct TokenSlot {
    uint64_t tag = 0;  // kind and length
    uint64_t lo = 0;
    uint64_t hi = 0;
    const GreenToken* token = nullptr;
  };
  struct NodeSlot {
    uint64_t hash = 0;
    GreenElement element;
  };
  struct OpenNode {
    SyntaxKind kind;
    uint32_t first_child;  // index into children_
  };
  GreenArena* arena_;
  // Every one-byte token made so far, at kind * 256 + byte. Most tokens are one byte (a blank,
  // a line feed, punctuation); these are shared without hashing, and never evicted.
  std::vector<const GreenToken*> one_byte_tokens_;
  std::vector<OpenNode> open_;
  std::vector<GreenElement> children_;  // pending children of all open nodes, in order
  std::vector<TokenSlot> token_cache_;
  std::vector<NodeSlot> node_cache_;
};

}  // namespace quib
