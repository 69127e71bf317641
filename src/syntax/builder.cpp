#include "syntax/builder.h"

namespace quib {
namespace {

using K = SyntaxKind;

// Kinds that end a dependency or shell clause when they stand outside parentheses.
constexpr KindSet kClauseEnd{K::Newline,   K::Colon,        K::Question,
                             K::Ampersand, K::ShellKeyword, K::ShellTildeEquals};

// Builds the nodes inside one task header, left to right.
class HeaderBuilder {
 public:
  // The accepted colon, when there is one, is the header's last token; it is kept out of
  // `tokens_`, so that no clause or parameter list, however its brackets stand, can take it in.
  HeaderBuilder(GreenBuilder& builder, ItemTokens header, bool has_body_marker)
      : b_(builder),
        tokens_(header.subspan(0, header.count - (has_body_marker ? 1 : 0))),
        has_body_marker_(has_body_marker) {}

  void build() {
    bool named = false;
    bool had_parameters = false;
    uint32_t i = 0;
    while (i < tokens_.count) {
      const K kind = tokens_.kind(i);
      if (!named && kind == K::Word) {
        b_.start_node(K::TaskName);
        add(i++);
        b_.finish_node();
        named = true;
      } else if (named && !had_parameters && kind == K::LParen) {
        i = parameter_list(i);
        had_parameters = true;
      } else if (kind == K::Question) {
        i = guard(i);
      } else if (kind == K::Ampersand) {
        i = clause(i, K::Dependency);
      } else if (kind == K::ShellKeyword || kind == K::ShellTildeEquals) {
        i = clause(i, K::ShellOverride);
      } else {
        add(i++);
      }
    }
    if (has_body_marker_) {
      const ItemTokens marker = tokens_.subspan(tokens_.count, 1);
      b_.start_node(K::BodyMarker);
      b_.token(marker.kind(0), marker.text(0));
      b_.finish_node();
    }
  }

 private:
  void add(uint32_t i) { b_.token(tokens_.kind(i), tokens_.text(i)); }
  uint32_t size() const { return tokens_.count; }

  // `(` ... matching `)`, or to the end of the header when unmatched.
  uint32_t parameter_list(uint32_t i) {
    b_.start_node(K::ParameterList);
    add(i++);
    uint32_t depth = 0;
    while (i < size()) {
      const K kind = tokens_.kind(i);
      if (kind == K::Word || kind == K::ShellKeyword) {
        i = parameter(i);
        continue;
      }
      add(i++);
      if (kind == K::LParen) {
        ++depth;
      } else if (kind == K::RParen) {
        if (depth == 0) break;
        --depth;
      }
    }
    b_.finish_node();
    return i;
  }

  // From a name token up to, not including, the next `,` or `)` at the parameter's own level;
  // parentheses and square brackets nest inside it. The two are counted apart: the list ends at
  // the `)` that matches its `(` whatever brackets stand open, and the parameter must end there
  // too, or an unclosed `[` would carry it past the list's `)` and the header's `:`.
  uint32_t parameter(uint32_t i) {
    b_.start_node(K::Parameter);
    uint32_t parens = 0;
    uint32_t brackets = 0;
    while (i < size()) {
      const K kind = tokens_.kind(i);
      if (parens == 0 && (kind == K::RParen || (kind == K::Comma && brackets == 0))) break;
      if (kind == K::LParen) ++parens;
      if (kind == K::RParen) --parens;
      if (kind == K::LBracket) ++brackets;
      if (kind == K::RBracket && brackets > 0) --brackets;
      add(i++);
    }
    b_.finish_node();
    return i;
  }

  // `?` through the `)` closing the guard's first parenthesis; without one, up to the next
  // clause end.
  uint32_t guard(uint32_t i) {
    b_.start_node(K::Guard);
    add(i++);
    uint32_t depth = 0;
    bool seen_paren = false;
    while (i < size()) {
      const K kind = tokens_.kind(i);
      if (!seen_paren && kClauseEnd.contains(kind)) break;
      add(i++);
      if (kind == K::LParen) {
        ++depth;
        seen_paren = true;
      } else if (kind == K::RParen && depth > 0 && --depth == 0) {
        break;
      }
    }
    b_.finish_node();
    return i;
  }

  // A dependency or shell clause: up to, not including, the next clause end outside
  // parentheses, and never past its line, since the clause scan reads each header line apart
  // (a shell clause may leave a `(` open at its line end).
  uint32_t clause(uint32_t i, K node_kind) {
    b_.start_node(node_kind);
    add(i++);
    uint32_t depth = 0;
    while (i < size()) {
      const K kind = tokens_.kind(i);
      if (kind == K::Newline || (depth == 0 && kClauseEnd.contains(kind))) break;
      if (kind == K::LParen) ++depth;
      if (kind == K::RParen && depth > 0) --depth;
      add(i++);
    }
    b_.finish_node();
    return i;
  }

  GreenBuilder& b_;
  ItemTokens tokens_;
  bool has_body_marker_;
};

// Every token of an item is followed by at least the list's Eof, so the start after the last
// one is in the list.
void add_tokens(GreenBuilder& builder, ItemTokens tokens) {
  builder.tokens(tokens.list.kinds().data() + tokens.first,
                 tokens.list.starts().data() + tokens.first, tokens.list.source().data(),
                 tokens.count);
}

void flat_node(GreenBuilder& builder, K kind, ItemTokens tokens) {
  builder.start_node(kind);
  add_tokens(builder, tokens);
  builder.finish_node();
}

}  // namespace

void build_item(GreenBuilder& builder, ItemTokens item, const ClassifiedItem& info) {
  if (info.malformed || info.item_class == ItemClass::Stray) {
    flat_node(builder, K::ErrorItem, item);
    return;
  }
  switch (info.item_class) {
    case ItemClass::Directive:
      flat_node(builder, K::Directive, item);
      return;
    case ItemClass::Metadata:
      flat_node(builder, K::Metadata, item);
      return;
    case ItemClass::GroupOpen:
    case ItemClass::GroupClose:
      flat_node(builder, K::GroupLine, item);
      return;
    case ItemClass::Task: {
      builder.start_node(K::Task);
      builder.start_node(K::TaskHeader);
      HeaderBuilder(builder, item.subspan(0, info.header_end), info.has_body_marker).build();
      builder.finish_node();
      add_tokens(builder, item.subspan(info.header_end, item.count - info.header_end));
      builder.finish_node();
      return;
    }
    case ItemClass::Stray:
      break;
  }
}

}  // namespace quib
