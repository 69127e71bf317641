// The one assertion macro for internal invariants that no input can break.
// A failure prints its fixed message to stderr and aborts the whole process; there is no recovery.
#pragma once

namespace quib {

[[noreturn]] void assertion_failed(const char* message) noexcept;

}  // namespace quib

#define QUIB_ASSERT(condition, message)  \
  do {                                   \
    if (!(condition)) [[unlikely]] {     \
      ::quib::assertion_failed(message); \
    }                                    \
  } while (false)
