#include "syntax/syntax_kind.h"

namespace quib {

std::string_view kind_name(SyntaxKind kind) {
  switch (kind) {
#define QUIB_TOKEN(name, value, example) \
  case SyntaxKind::name:                 \
    return #name;
#define QUIB_NODE(name, value, example) \
  case SyntaxKind::name:                \
    return #name;
#include "syntax/syntax_kind.def"
#undef QUIB_TOKEN
#undef QUIB_NODE
  }
  return "?";
}

}  // namespace quib
