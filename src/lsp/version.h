// The server's own version, the one place it is written. Read by completion (the `!version`
// snippet offers the language level this server understands) and by anything that reports it.
#pragma once

#include <string_view>

namespace quib::lsp {

// "major.minor.patch"; the first two components are the language version the server supports.
inline constexpr std::string_view kServerVersion = "0.5.2";

}  // namespace quib::lsp
