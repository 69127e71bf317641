// The green layer of the syntax tree: immutable, position-free nodes and tokens shared by
// atomic reference counts, and the GreenBuilder that makes them. Offsets, parents and
// navigation live in the red layer (syntax_node.h), not here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "syntax/scratch_vector.h"
#include "syntax/syntax_kind.h"

namespace quib {

class GreenNode;
class GreenToken;

// Every green element of one tree lives in one contiguous buffer: building is a bump
// allocation per element and dropping a tree frees one buffer instead of walking every element
// (a large one is kept for the next tree of about its size instead).
// The buffer grows by realloc while the tree is built, so it may move then; the builder holds
// elements by their byte offset until seal(), after which the buffer never changes and
// pointers into it are stable. Every offset, and so every distance between two elements, fits
// in 32 bits. The arena is shared by an atomic reference count; elements are shared within
// their arena (the builder's caches make identical small elements one object), never across
// trees.
class GreenArena {
 public:
  // Every element starts at a multiple of this, which leaves the low bit of offsets and
  // pointers free for the token tag.
  static constexpr uint32_t kAlign = 4;

  GreenArena() = default;
  GreenArena(const GreenArena&) = delete;
  GreenArena& operator=(const GreenArena&) = delete;
  ~GreenArena();

  // The offset of `size` new bytes at the end of the buffer. May move the buffer; only
  // before seal().
  uint32_t allocate(size_t size);
  // Grows the buffer to hold at least `capacity` bytes in all; only before seal().
  void reserve(size_t capacity);
  // Takes the kept buffer of a dropped tree if this arena has no buffer yet and the kept one is
  // at most twice `capacity` bytes (a smaller one serves a tree that may stop short of that and
  // grows from it); otherwise leaves the arena as it is.
  void take_spare(size_t capacity);
  char* at(uint32_t offset) { return data_ + offset; }
  const char* data() const { return data_; }
  // Bytes in use: every element lies below this offset.
  size_t size() const { return size_; }
  // Gives back the unused capacity, but for a sixteenth of a large tree's size (see the spare
  // buffer). The buffer is final afterwards.
  void seal();
  // Frees the buffer when the arena goes instead of keeping it for the next tree.
  void free_buffer_when_released() { keep_buffer_ = false; }
  // Lends the last `bytes` of the reserved buffer (fewer if this arena already uses more of
  // it) to `borrower`, a new arena, which builds there while this one keeps below them; the two
  // may grow on different threads. Whichever outgrows its part moves to a buffer of its own,
  // so the other keeps its part undisturbed. Lending ends in take_in, or in seal once the
  // borrower's tree is dropped (it must not outlive the lender's sealing).
  void lend_tail(size_t bytes, GreenArena& borrower);
  // Appends the elements of `source` (a finished arena) and returns their offset here; ends a
  // lending. A borrower still in this buffer's tail is moved down next to this arena's
  // elements, anything else is copied.
  uint32_t take_in(const GreenArena& source);
  void retain() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  // Leaves the buffer it shares with a borrower or lender; the other side keeps using it.
  void move_to_own_buffer(size_t capacity);
  void end_lending();

  std::atomic<uint32_t> refs_{1};
  bool keep_buffer_ = true;
  // `data_` lies in a lender's buffer: it is never freed, regrown or shrunk here.
  bool borrowed_ = false;
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  // While lending: the capacity of the whole buffer (`capacity_` stops where the lent tail
  // starts), and, once this arena has moved to a buffer of its own, the shared one, which the
  // borrower may still use.
  size_t lent_capacity_ = 0;
  char* lent_buffer_ = nullptr;
};

// Header shared by both green element types, so an element's kind and length are read
// without asking which type it is.
struct GreenHeader {
  SyntaxKind kind;
  bool is_token;
  uint32_t text_len;
};

// A token: kind and text. The text is stored directly after the object.
class GreenToken {
 public:
  SyntaxKind kind() const { return header_.kind; }
  std::string_view text() const {
    return {reinterpret_cast<const char*>(this + 1), header_.text_len};
  }
  uint32_t text_len() const { return header_.text_len; }

 private:
  friend class GreenBuilder;
  GreenHeader header_;
};

// A node or a token, as one tagged pointer (low bit set for a token).
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
  uint32_t text_len() const { return header()->text_len; }
  bool operator==(const GreenElement&) const = default;

 private:
  friend class GreenNode;
  explicit GreenElement(uintptr_t bits) : bits_(bits) {}
  uintptr_t bits_ = 0;
};

// A node: kind, ordered children and the total text length of its subtree. The children
// follow the object as 32-bit links, each the distance from a child back to this node (every
// child is built before its parent, earlier in the same arena) with the token tag in its low
// bit; child() decodes a link to an element.
// Invariant: text_len() == sum of the children's text lengths.
class GreenNode {
 public:
  SyntaxKind kind() const { return header_.kind; }
  uint32_t text_len() const { return header_.text_len; }
  uint32_t child_count() const { return child_count_; }
  GreenElement child(uint32_t index) const {
    const uint32_t link = reinterpret_cast<const uint32_t*>(this + 1)[index];
    const char* at = reinterpret_cast<const char*>(this) - (link & ~uint32_t{1});
    return GreenElement(reinterpret_cast<uintptr_t>(at) | (link & 1u));
  }

 private:
  friend class GreenBuilder;
  GreenHeader header_;
  uint32_t child_count_ = 0;
};

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
  friend class GreenBuilder;
  GreenArena* arena_ = nullptr;
  const GreenNode* node_ = nullptr;
};

// Builds one green tree bottom-up: start_node / token / finish_node, then finish.
// Identical short tokens and identical small nodes made during one build are shared through
// caches that live as long as the builder. While building, elements are named by a Ref (their
// arena offset with the token tag in the low bit), since growing the arena may move it.
// Invariant: every start_node is matched by one finish_node before finish().
class GreenBuilder {
 public:
  // `expected_tokens`, when known, sizes the arena up front so that it rarely has to grow.
  explicit GreenBuilder(size_t expected_tokens = 0);
  // A builder whose arena is the tail of `lender`'s, sized for `expected_tokens` (see
  // GreenArena::lend_tail): the parts of a text parsed on two threads are built in one buffer,
  // and adopting the second tree into `lender` moves it instead of copying it out of fresh
  // memory. Made on the lender's thread before either builds on.
  GreenBuilder(GreenBuilder& lender, size_t expected_tokens);
  ~GreenBuilder();
  GreenBuilder(const GreenBuilder&) = delete;
  GreenBuilder& operator=(const GreenBuilder&) = delete;

  // Sizes the arena for `expected_tokens` tokens in all, as the constructor does, for a tree
  // whose size became known only after it was begun.
  void reserve(size_t expected_tokens);
  // Sizes the arena for `expected_tokens` tokens from the kept buffer of a dropped tree, if one
  // fits, and otherwise leaves it to grow as elements are added: for a tree that must not take
  // fresh memory for its whole expected size yet.
  void reserve_from_spare(size_t expected_tokens);
  void start_node(SyntaxKind kind);
  void token(SyntaxKind kind, std::string_view text);
  // Adds `count` tokens in order, as `token` would: token i is of kind `kinds[i]` and its text
  // is `source[starts[i], starts[i + 1])`, so `starts` holds `count + 1` offsets. The bulk form
  // of the many tokens of an item, which are mostly one byte long.
  void tokens(const SyntaxKind* kinds, const uint32_t* starts, const char* source, uint32_t count);
  void finish_node();
  // Adds every child of `tree`'s root to the innermost open node, in order, as if they had been
  // built here: copies the whole arena of `tree` (a finished tree of its own) into this one,
  // where its elements keep their links and their sharing. Joins trees built apart, such as
  // the parts of a text parsed on two threads. Once the last handle to `tree` goes, its buffer
  // is freed, not kept for another tree.
  void adopt_children(GreenNodePtr tree);
  // The single root node; the builder must be balanced and must have built exactly one node
  // at the top level. The builder is spent afterwards.
  GreenNodePtr finish();

 private:
  using Ref = uint32_t;
  // A cached short token, compared without touching the token itself. A token Ref is odd, so
  // 0 marks an empty slot.
  struct TokenSlot {
    uint64_t tag = 0;  // kind and length
    uint64_t lo = 0;
    uint64_t hi = 0;
    Ref token = 0;
  };
  // A cached small node; a hash of 0 (never made) marks an empty slot.
  struct NodeSlot {
    uint64_t hash = 0;
    Ref node = 0;
  };
  struct OpenNode {
    SyntaxKind kind;
    uint32_t first_child;  // index into children_
    // The sum of the text lengths of the node's children so far, kept as they are added so
    // that finishing the node reads none of them.
    uint64_t text_len = 0;
  };
  // The element a Ref names; valid until the next allocation in the arena.
  GreenElement element(Ref ref) const;
  // A token of kind `kind` and text `text`: one made earlier when the caches still hold it,
  // else a new one, which the caches then hold when it is short enough.
  Ref intern_token(SyntaxKind kind, std::string_view text);
  // A new token in the arena, shared with nothing yet.
  Ref new_token(SyntaxKind kind, std::string_view text);

  GreenArena* arena_;
  // Every one-byte token made so far, at kind * 256 + byte (0 for none yet). Most tokens are
  // one byte (a blank, a line feed, punctuation); these are shared without hashing, and never
  // evicted.
  std::vector<Ref> one_byte_tokens_;
  std::vector<OpenNode> open_;
  ScratchVector<Ref> children_;  // pending children of all open nodes, in order
  std::vector<TokenSlot> token_cache_;
  std::vector<NodeSlot> node_cache_;
};

}  // namespace quib
