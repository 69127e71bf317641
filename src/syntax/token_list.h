// TokenList: the token list of one parse in compact form. Per token it keeps only the kind and
// the start offset (six bytes), and reads texts as slices of the parsed text, which it shares;
// a Token record with an owned text is made only when asked for. A parse of a large document
// therefore never holds one string per token.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/scratch_vector.h"
#include "syntax/token.h"

namespace quib {

// Invariant: kinds.size() == starts.size() >= 1; the last token is the single Eof at
// (end, end); starts are increasing and tile [begin, end), which is the whole text except for
// the list of a part of it.
class TokenList {
 public:
  TokenList() = default;
  TokenList(std::shared_ptr<const std::string> text, ScratchVector<SyntaxKind> kinds,
            ScratchVector<uint32_t> starts);

  // Eof included.
  size_t size() const { return kinds_.size(); }
  SyntaxKind kind(size_t i) const { return kinds_[i]; }
  TextRange range(size_t i) const {
    return {starts_[i], i + 1 < starts_.size() ? starts_[i + 1] : starts_[i]};
  }
  std::string_view text(size_t i) const {
    const TextRange r = range(i);
    return std::string_view(*text_).substr(r.start, r.len());
  }
  // The record of token `i`, with its own copy of the text.
  Token operator[](size_t i) const { return Token{SmallText(text(i)), starts_[i], kinds_[i]}; }
  const ScratchVector<SyntaxKind>& kinds() const { return kinds_; }
  const ScratchVector<uint32_t>& starts() const { return starts_; }
  std::string_view source() const { return *text_; }

 private:
  std::shared_ptr<const std::string> text_ = std::make_shared<const std::string>();
  ScratchVector<SyntaxKind> kinds_;
  ScratchVector<uint32_t> starts_;
};

}  // namespace quib
