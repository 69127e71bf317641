#include "syntax/assert.h"

#include <cstdio>
#include <cstdlib>

namespace quib {

void assertion_failed(const char* message) noexcept {
  std::fputs("internal error: ", stderr);
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace quib
