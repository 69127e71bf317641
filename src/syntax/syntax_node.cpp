#include "syntax/syntax_node.h"

#include "syntax/assert.h"

namespace quib {
namespace {

// Walks of a tree make and drop red nodes by the thousand; each thread keeps a few dropped
// ones for its next nodes instead of going to the allocator every time. Only nodes without a
// root's owning handles are kept, so a kept node owns nothing.
struct RedNodeCache {
  static constexpr int kCapacity = 64;
  detail::RedNode* nodes[kCapacity];
  int count = 0;

  ~RedNodeCache() {
    while (count > 0) delete nodes[--count];
  }
};
thread_local RedNodeCache red_node_cache;

detail::RedNode* new_red_node() {
  RedNodeCache& cache = red_node_cache;
  if (cache.count == 0) return new detail::RedNode();
  detail::RedNode* node = cache.nodes[--cache.count];
  node->refs = 1;
  node->index = 0;
  node->offset = 0;
  node->parent = nullptr;
  node->green = nullptr;
  node->source = nullptr;
  return node;
}

void delete_red_node(detail::RedNode* node) {
  RedNodeCache& cache = red_node_cache;
  if (cache.count == RedNodeCache::kCapacity || node->root_green || node->root_source) {
    delete node;
    return;
  }
  cache.nodes[cache.count++] = node;
}

void red_release(detail::RedNode* node) {
  while (node && --node->refs == 0) {
    detail::RedNode* parent = node->parent;
    delete_red_node(node);
    node = parent;
  }
}

}  // namespace

SyntaxNode SyntaxNode::new_root(GreenNodePtr green) {
  auto* data = new_red_node();
  data->green = green.get();
  data->root_green = std::move(green);
  return SyntaxNode(data);
}

SyntaxNode SyntaxNode::new_root(GreenNodePtr green, std::shared_ptr<const std::string> source) {
  QUIB_ASSERT(source && source->size() == green->text_len(),
              "a tree's source must be exactly the text its tokens tile");
  SyntaxNode root = new_root(std::move(green));
  root.data_->source = source.get();
  root.data_->root_source = std::move(source);
  return root;
}

SyntaxNode SyntaxNode::share_root() const {
  QUIB_ASSERT(!data_->parent, "only a root is shared");
  if (!data_->root_source) return new_root(data_->root_green);
  return new_root(data_->root_green, data_->root_source);
}

SyntaxNode::SyntaxNode(const SyntaxNode& other) : data_(other.data_) {
  ++data_->refs;
}
SyntaxNode::SyntaxNode(SyntaxNode&& other) noexcept : data_(other.data_) {
  other.data_ = nullptr;
}
SyntaxNode& SyntaxNode::operator=(SyntaxNode other) noexcept {
  std::swap(data_, other.data_);
  return *this;
}
SyntaxNode::~SyntaxNode() {
  red_release(data_);
}

SyntaxNode SyntaxNode::child_node(const SyntaxNode& parent, uint32_t index, uint32_t offset) {
  auto* data = new_red_node();
  data->index = index;
  data->offset = offset;
  data->parent = parent.data_;
  data->source = parent.data_->source;
  ++parent.data_->refs;
  data->green = parent.data_->green->child(index).as_node();
  return SyntaxNode(data);
}

SyntaxElement SyntaxNode::element_at(uint32_t index, uint32_t offset) const {
  const GreenElement& child = data_->green->child(index);
  if (child.is_node()) return SyntaxElement(child_node(*this, index, offset));
  return SyntaxElement(SyntaxToken(*this, child.as_token(), index, offset));
}

std::optional<std::string_view> SyntaxNode::text_view() const {
  if (!data_->source) return std::nullopt;
  return std::string_view(*data_->source).substr(data_->offset, data_->green->text_len());
}

std::shared_ptr<const std::string> SyntaxNode::source() const {
  const detail::RedNode* node = data_;
  while (node->parent) node = node->parent;
  return node->root_source;
}

std::string SyntaxNode::text() const {
  if (data_->source) return std::string(*text_view());
  std::string out;
  out.reserve(data_->green->text_len());
  std::vector<const GreenNode*> stack{data_->green};
  std::vector<uint32_t> positions{0};
  while (!stack.empty()) {
    const GreenNode* node = stack.back();
    uint32_t& i = positions.back();
    if (i == node->child_count()) {
      stack.pop_back();
      positions.pop_back();
      continue;
    }
    const GreenElement& child = node->child(i++);
    if (child.is_token()) {
      out += child.as_token()->text();
    } else {
      stack.push_back(child.as_node());
      positions.push_back(0);
    }
  }
  return out;
}

std::optional<SyntaxNode> SyntaxNode::parent() const {
  if (!data_->parent) return std::nullopt;
  ++data_->parent->refs;
  return SyntaxNode(data_->parent);
}

std::vector<SyntaxNode> SyntaxNode::ancestors() const {
  std::vector<SyntaxNode> out;
  for (detail::RedNode* p = data_->parent; p; p = p->parent) {
    ++p->refs;
    out.push_back(SyntaxNode(p));
  }
  return out;
}

std::vector<SyntaxNode> SyntaxNode::children() const {
  std::vector<SyntaxNode> out;
  uint32_t offset = data_->offset;
  const GreenNode& green = *data_->green;
  for (uint32_t i = 0; i < green.child_count(); ++i) {
    const GreenElement& child = green.child(i);
    if (child.is_node()) out.push_back(child_node(*this, i, offset));
    offset += child.text_len();
  }
  return out;
}

std::vector<SyntaxElement> SyntaxNode::children_with_tokens() const {
  std::vector<SyntaxElement> out;
  out.reserve(data_->green->child_count());
  uint32_t offset = data_->offset;
  for (uint32_t i = 0; i < data_->green->child_count(); ++i) {
    out.push_back(element_at(i, offset));
    offset += data_->green->child(i).text_len();
  }
  return out;
}

std::optional<SyntaxNode> SyntaxNode::first_child() const {
  return first_child_from(0);
}

std::optional<SyntaxNode> SyntaxNode::first_child_from(uint32_t index) const {
  uint32_t offset = data_->offset;
  const GreenNode& green = *data_->green;
  for (uint32_t i = 0; i < green.child_count(); ++i) {
    if (i >= index && green.child(i).is_node()) return child_node(*this, i, offset);
    offset += green.child(i).text_len();
  }
  return std::nullopt;
}

std::optional<SyntaxNode> SyntaxNode::first_child_of_kind(SyntaxKind kind) const {
  uint32_t offset = data_->offset;
  const GreenNode& green = *data_->green;
  for (uint32_t i = 0; i < green.child_count(); ++i) {
    const GreenElement& child = green.child(i);
    if (child.is_node() && child.kind() == kind) return child_node(*this, i, offset);
    offset += child.text_len();
  }
  return std::nullopt;
}

std::optional<SyntaxElement> SyntaxNode::first_child_or_token() const {
  if (data_->green->child_count() == 0) return std::nullopt;
  return element_at(0, data_->offset);
}

std::optional<SyntaxToken> SyntaxNode::first_token() const {
  SyntaxNode node = *this;
  for (;;) {
    if (node.child_count() == 0) return std::nullopt;
    SyntaxElement first = node.element_at(0, node.data_->offset);
    if (const SyntaxToken* token = first.as_token()) return *token;
    node = *first.as_node();
  }
}

std::optional<SyntaxToken> SyntaxNode::last_token() const {
  SyntaxNode node = *this;
  for (;;) {
    const uint32_t count = node.child_count();
    if (count == 0) return std::nullopt;
    const GreenElement& last = node.green().child(count - 1);
    const uint32_t offset = node.text_range().end - last.text_len();
    SyntaxElement element = node.element_at(count - 1, offset);
    if (const SyntaxToken* token = element.as_token()) return *token;
    node = *element.as_node();
  }
}

std::optional<SyntaxToken> SyntaxNode::token_child(uint32_t n) const {
  uint32_t offset = data_->offset;
  const GreenNode& green = *data_->green;
  for (uint32_t i = 0; i < green.child_count(); ++i) {
    const GreenElement& child = green.child(i);
    if (child.is_token() && n-- == 0) return SyntaxToken(*this, child.as_token(), i, offset);
    offset += child.text_len();
  }
  return std::nullopt;
}

std::optional<SyntaxElement> SyntaxNode::next_sibling_or_token() const {
  const detail::RedNode* parent = data_->parent;
  if (!parent || data_->index + 1 >= parent->green->child_count()) return std::nullopt;
  ++data_->parent->refs;
  SyntaxNode p(data_->parent);
  return p.element_at(data_->index + 1, text_range().end);
}

std::optional<SyntaxElement> SyntaxNode::prev_sibling_or_token() const {
  if (!data_->parent || data_->index == 0) return std::nullopt;
  ++data_->parent->refs;
  SyntaxNode p(data_->parent);
  const uint32_t index = data_->index - 1;
  return p.element_at(index, data_->offset - p.green().child(index).text_len());
}

std::optional<SyntaxNode> SyntaxNode::next_sibling() const {
  if (!data_->parent) return std::nullopt;
  ++data_->parent->refs;
  SyntaxNode p(data_->parent);
  const GreenNode& green = p.green();
  uint32_t offset = text_range().end;
  for (uint32_t i = data_->index + 1; i < green.child_count(); ++i) {
    if (green.child(i).is_node()) return child_node(p, i, offset);
    offset += green.child(i).text_len();
  }
  return std::nullopt;
}

bool SyntaxNode::step_to_next_sibling() {
  detail::RedNode* parent = data_->parent;
  if (!parent) return false;
  const GreenNode& green = *parent->green;
  uint32_t offset = data_->offset + data_->green->text_len();
  for (uint32_t i = data_->index + 1; i < green.child_count(); ++i) {
    const GreenElement& child = green.child(i);
    if (!child.is_node()) {
      offset += child.text_len();
      continue;
    }
    // Held by no other handle, the node is also no child's parent: nothing else sees it.
    if (data_->refs == 1) {
      data_->index = i;
      data_->offset = offset;
      data_->green = child.as_node();
    } else {
      ++parent->refs;
      *this = child_node(SyntaxNode(parent), i, offset);
    }
    return true;
  }
  return false;
}

std::optional<SyntaxNode> SyntaxNode::prev_sibling() const {
  if (!data_->parent) return std::nullopt;
  ++data_->parent->refs;
  SyntaxNode p(data_->parent);
  const GreenNode& green = p.green();
  uint32_t offset = data_->offset;
  for (uint32_t i = data_->index; i-- > 0;) {
    offset -= green.child(i).text_len();
    if (green.child(i).is_node()) return child_node(p, i, offset);
  }
  return std::nullopt;
}

std::vector<SyntaxNode> SyntaxNode::descendants() const {
  std::vector<SyntaxNode> out;
  Preorder walk(*this);
  while (auto step = walk.next()) {
    if (step->event == Preorder::Event::Enter) out.push_back(*step->element.as_node());
  }
  return out;
}

std::vector<SyntaxElement> SyntaxNode::descendants_with_tokens() const {
  std::vector<SyntaxElement> out;
  Preorder walk(*this, /*with_tokens=*/true);
  while (auto step = walk.next()) {
    if (step->event != Preorder::Event::Leave) out.push_back(std::move(step->element));
  }
  return out;
}

std::vector<SyntaxToken> SyntaxNode::tokens() const {
  std::vector<SyntaxToken> out;
  Preorder walk(*this, /*with_tokens=*/true);
  while (auto step = walk.next()) {
    if (step->event == Preorder::Event::Token) out.push_back(*step->element.as_token());
  }
  return out;
}

std::optional<SyntaxToken> SyntaxNode::token_at_offset(uint32_t offset) const {
  if (!text_range().contains(offset)) return std::nullopt;
  SyntaxNode node = *this;
  for (;;) {
    const GreenNode& green = node.green();
    uint32_t start = node.data_->offset;
    bool descended = false;
    for (uint32_t i = 0; i < green.child_count(); ++i) {
      const uint32_t len = green.child(i).text_len();
      if (offset < start + len) {
        SyntaxElement element = node.element_at(i, start);
        if (const SyntaxToken* token = element.as_token()) return *token;
        node = *element.as_node();
        descended = true;
        break;
      }
      start += len;
    }
    if (!descended) return std::nullopt;
  }
}

std::optional<SyntaxElement> SyntaxToken::next_sibling_or_token() const {
  if (index_ + 1 >= parent_.child_count()) return std::nullopt;
  return parent_.element_at(index_ + 1, text_range().end);
}

std::optional<SyntaxElement> SyntaxToken::prev_sibling_or_token() const {
  if (index_ == 0) return std::nullopt;
  return parent_.element_at(index_ - 1, offset_ - parent_.green().child(index_ - 1).text_len());
}

std::optional<SyntaxToken> SyntaxToken::next_token() const {
  // Climb until some ancestor has a following sibling, then descend to its first token;
  // empty nodes on the way are skipped.
  std::optional<SyntaxElement> next = next_sibling_or_token();
  std::optional<SyntaxNode> node = parent_;
  for (;;) {
    while (!next) {
      if (!node) return std::nullopt;
      next = node->next_sibling_or_token();
      node = node->parent();
    }
    if (const SyntaxToken* token = next->as_token()) return *token;
    const SyntaxNode& child = *next->as_node();
    if (auto first = child.first_token()) return first;
    next = child.next_sibling_or_token();
    node = child.parent();
  }
}

std::optional<SyntaxToken> SyntaxToken::prev_token() const {
  std::optional<SyntaxElement> prev = prev_sibling_or_token();
  std::optional<SyntaxNode> node = parent_;
  for (;;) {
    while (!prev) {
      if (!node) return std::nullopt;
      prev = node->prev_sibling_or_token();
      node = node->parent();
    }
    if (const SyntaxToken* token = prev->as_token()) return *token;
    const SyntaxNode& child = *prev->as_node();
    if (auto last = child.last_token()) return last;
    prev = child.prev_sibling_or_token();
    node = child.parent();
  }
}

SyntaxKind SyntaxElement::kind() const {
  return is_node() ? as_node()->kind() : as_token()->kind();
}

TextRange SyntaxElement::text_range() const {
  return is_node() ? as_node()->text_range() : as_token()->text_range();
}

std::optional<SyntaxNode> SyntaxElement::parent() const {
  return is_node() ? as_node()->parent() : std::optional<SyntaxNode>(as_token()->parent());
}

Preorder::Preorder(SyntaxNode root, bool with_tokens)
    : with_tokens_(with_tokens), root_(std::move(root)) {}

std::optional<Preorder::Step> Preorder::next() {
  if (!started_) {
    started_ = true;
    stack_.push_back(Frame{root_, 0, root_.text_range().start});
    return Step{Event::Enter, SyntaxElement(root_)};
  }
  while (!stack_.empty()) {
    Frame& top = stack_.back();
    const GreenNode& green = top.node.green();
    if (top.next_child >= green.child_count()) {
      SyntaxNode done = std::move(top.node);
      stack_.pop_back();
      return Step{Event::Leave, SyntaxElement(std::move(done))};
    }
    const uint32_t index = top.next_child++;
    const uint32_t offset = top.next_offset;
    const GreenElement& child = green.child(index);
    top.next_offset += child.text_len();
    if (child.is_node()) {
      SyntaxNode node = SyntaxNode::child_node(top.node, index, offset);
      stack_.push_back(Frame{node, 0, offset});
      return Step{Event::Enter, SyntaxElement(std::move(node))};
    }
    if (with_tokens_) {
      return Step{Event::Token,
                  SyntaxElement(SyntaxToken(top.node, child.as_token(), index, offset))};
    }
  }
  return std::nullopt;
}

void Preorder::skip_subtree() {
  if (!stack_.empty()) stack_.back().next_child = stack_.back().node.green().child_count();
}

}  // namespace quib
