// Generated Quibfile documents for the stage benchmarks (lex, parse, analyze, format, ...).
// Produces text only; it does not parse or check what it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quib {

// A realistic, valid Quibfile of at least `approx_bytes` bytes (it stops at the first item
// boundary past that size, so it overshoots by at most one item, well under 2 KiB).
//
// Contract, relied on by every benchmark that shares these documents:
// - Deterministic: the same (approx_bytes, seed) gives the same bytes on every platform and
//   standard library (its own PRNG, no std distributions, no clocks).
// - Valid: parsing, lowering and the checks raise no diagnostic. It opens with
//   `!version 0.1`, then `!var` lines and one `!shell bash`; after that come only comments,
//   metadata directly above the task or group it describes, tasks and groups.
// - Task names are unique (`build_12`, ...; group tasks `t1`, `t2`, ... per group `g7`);
//   dependencies name tasks defined earlier (top-level tasks by plain name, siblings in a
//   group by plain name); interpolations name only the task's parameters or global variables
//   (metadata only global variables); guards are @os @arch @env @has with string arguments;
//   shells are deno bash sh pwsh powershell, with `shell~=` only on bash and pwsh.
// - Shape: LF line ends, four-space indentation (eight for commands of group tasks), `| `
//   command blocks, blank lines between items, and some non-ASCII text in comments, strings
//   and metadata. Every group is closed; the text ends with a line feed.
std::string generate_quibfile(size_t approx_bytes, uint32_t seed = 1);

}  // namespace quib
