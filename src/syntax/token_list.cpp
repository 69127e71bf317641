#include "syntax/token_list.h"

#include "syntax/assert.h"

namespace quib {

TokenList::TokenList(std::shared_ptr<const std::string> text, ScratchVector<SyntaxKind> kinds,
                     ScratchVector<uint32_t> starts)
    : text_(std::move(text)), kinds_(std::move(kinds)), starts_(std::move(starts)) {
  QUIB_ASSERT(
      !kinds_.empty() && kinds_.size() == starts_.size() && kinds_.back() == SyntaxKind::Eof,
      "a token list must pair every kind with a start and end with Eof");
}

}  // namespace quib
