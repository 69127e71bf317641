// The red layer of the syntax tree: cheap handles over the green layer that know their
// parent, their index among the parent's children and their absolute byte offset.
// Handles are reference counted; the whole tree stays alive while any handle lives.
// Handles of one tree are used by one thread at a time (their counts are not atomic).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/green.h"
#include "syntax/text_range.h"

namespace quib {

class SyntaxToken;
class SyntaxElement;

namespace detail {
// One materialised red node. Invariant: `parent` is retained by this node; the root holds
// the only owning reference to the green tree and to the source text. `source` is the root's
// text (null for a tree made without one), copied into every node so a slice needs no climb.
struct RedNode {
  uint32_t refs = 1;
  uint32_t index = 0;   // index among the parent's children
  uint32_t offset = 0;  // absolute byte offset of the node's first byte
  RedNode* parent = nullptr;
  const GreenNode* green = nullptr;
  const std::string* source = nullptr;
  GreenNodePtr root_green;                         // set on the root only
  std::shared_ptr<const std::string> root_source;  // set on the root only
};
}  // namespace detail

// A node handle. A moved-from handle may only be destroyed or assigned to.
class SyntaxNode {
 public:
  // The root of a new tree over `green`; node texts are then rebuilt from the token texts.
  static SyntaxNode new_root(GreenNodePtr green);
  // The root of a new tree over `green`, whose token texts concatenate to exactly `source`
  // (the text it was parsed from). The tree keeps `source` alive and reads node texts as
  // slices of it.
  static SyntaxNode new_root(GreenNodePtr green, std::shared_ptr<const std::string> source);

  // A new root handle over the tree of this root, sharing its green tree and source but none
  // of its handles: two threads may each read one tree through a root of their own.
  SyntaxNode share_root() const;

  SyntaxNode(const SyntaxNode& other);
  SyntaxNode(SyntaxNode&& other) noexcept;
  SyntaxNode& operator=(SyntaxNode other) noexcept;
  ~SyntaxNode();

  SyntaxKind kind() const { return data_->green->kind(); }
  TextRange text_range() const { return {data_->offset, data_->offset + data_->green->text_len()}; }
  // Concatenated token texts of the subtree: a copy of the source slice when the tree has a
  // source, else a walk.
  std::string text() const;
  // The subtree's text as a view into the tree's source, valid while the tree lives; absent for
  // a tree made without a source.
  std::optional<std::string_view> text_view() const;
  // The text the whole tree was parsed from, shared; null for a tree made without a source.
  std::shared_ptr<const std::string> source() const;
  const GreenNode& green() const { return *data_->green; }
  uint32_t index() const { return data_->index; }

  std::optional<SyntaxNode> parent() const;
  // Parent, grandparent, ... up to the root (not including this node).
  std::vector<SyntaxNode> ancestors() const;

  // Child nodes only / all child elements, in order.
  std::vector<SyntaxNode> children() const;
  std::vector<SyntaxElement> children_with_tokens() const;
  uint32_t child_count() const { return data_->green->child_count(); }

  std::optional<SyntaxNode> first_child() const;
  // The first child node at index `index` or later among all children (tokens counted). The
  // children before it are summed for its offset: a walk over many children steps instead.
  std::optional<SyntaxNode> first_child_from(uint32_t index) const;
  // The first child node of `kind`; makes a handle for that child only.
  std::optional<SyntaxNode> first_child_of_kind(SyntaxKind kind) const;
  std::optional<SyntaxElement> first_child_or_token() const;
  // First and last token of the subtree (descending through child nodes).
  std::optional<SyntaxToken> first_token() const;
  std::optional<SyntaxToken> last_token() const;
  // The n-th direct token child (child nodes are skipped in the count).
  std::optional<SyntaxToken> token_child(uint32_t n) const;

  std::optional<SyntaxNode> next_sibling() const;
  // Moves this handle to its next sibling node, as `*this = *next_sibling()` would, or returns
  // false, the handle unchanged, when there is none. A handle that alone holds its node moves
  // in place, so a walk over many siblings makes and drops no node per sibling.
  bool step_to_next_sibling();
  std::optional<SyntaxNode> prev_sibling() const;
  std::optional<SyntaxElement> next_sibling_or_token() const;
  std::optional<SyntaxElement> prev_sibling_or_token() const;

  // Pre-order walks that include this node itself.
  std::vector<SyntaxNode> descendants() const;
  std::vector<SyntaxElement> descendants_with_tokens() const;
  // Every token of the subtree in document order.
  std::vector<SyntaxToken> tokens() const;

  // The deepest token whose range contains `offset` (start <= offset < end).
  std::optional<SyntaxToken> token_at_offset(uint32_t offset) const;

  bool operator==(const SyntaxNode& other) const {
    return data_->green == other.data_->green && data_->offset == other.data_->offset;
  }

 private:
  friend class SyntaxToken;
  friend class SyntaxElement;
  friend class Preorder;
  explicit SyntaxNode(detail::RedNode* data) : data_(data) {}
  static SyntaxNode child_node(const SyntaxNode& parent, uint32_t index, uint32_t offset);
  SyntaxElement element_at(uint32_t index, uint32_t offset) const;

  detail::RedNode* data_;
};

class SyntaxToken {
 public:
  SyntaxKind kind() const { return green_->kind(); }
  std::string_view text() const { return green_->text(); }
  TextRange text_range() const { return {offset_, offset_ + green_->text_len()}; }
  const SyntaxNode& parent() const { return parent_; }
  uint32_t index() const { return index_; }

  std::optional<SyntaxElement> next_sibling_or_token() const;
  std::optional<SyntaxElement> prev_sibling_or_token() const;
  // The next / previous token in document order, crossing node boundaries.
  std::optional<SyntaxToken> next_token() const;
  std::optional<SyntaxToken> prev_token() const;

  bool operator==(const SyntaxToken& other) const {
    return green_ == other.green_ && offset_ == other.offset_;
  }

 private:
  friend class SyntaxNode;
  friend class SyntaxElement;
  friend class Preorder;
  SyntaxToken(SyntaxNode parent, const GreenToken* green, uint32_t index, uint32_t offset)
      : parent_(std::move(parent)), green_(green), index_(index), offset_(offset) {}

  SyntaxNode parent_;
  const GreenToken* green_;
  uint32_t index_;
  uint32_t offset_;
};

// Either a node or a token.
class SyntaxElement {
 public:
  SyntaxElement(SyntaxNode node) : value_(std::move(node)) {}
  SyntaxElement(SyntaxToken token) : value_(std::move(token)) {}

  bool is_node() const { return value_.index() == 0; }
  bool is_token() const { return value_.index() == 1; }
  const SyntaxNode* as_node() const { return std::get_if<SyntaxNode>(&value_); }
  const SyntaxToken* as_token() const { return std::get_if<SyntaxToken>(&value_); }
  SyntaxKind kind() const;
  TextRange text_range() const;
  std::optional<SyntaxNode> parent() const;

 private:
  std::variant<SyntaxNode, SyntaxToken> value_;
};

// A pre-order walk that reports entering and leaving every node of a subtree (and, when asked,
// every token between):
//   Preorder walk(root);
//   while (auto event = walk.next()) { ... }
class Preorder {
 public:
  enum class Event : uint8_t { Enter, Leave, Token };
  struct Step {
    Event event;
    SyntaxElement element;
  };

  explicit Preorder(SyntaxNode root, bool with_tokens = false);
  std::optional<Step> next();
  // After an Enter event: do not descend into that node (its Leave is still reported).
  void skip_subtree();

 private:
  struct Frame {
    SyntaxNode node;
    uint32_t next_child;
    uint32_t next_offset;
  };
  std::vector<Frame> stack_;
  bool started_ = false;
  bool with_tokens_;
  SyntaxNode root_;
};

}  // namespace quib
