// A compact, stable text form of a syntax tree, one element per line, for tests and
// debugging:
//   Task@0..7
//     TaskHeader@0..6
//       TaskName@0..5
//         Word@0..5 "build"
#pragma once

#include <string>
#include <vector>

#include "syntax/diagnostic.h"
#include "syntax/syntax_node.h"

namespace quib {

std::string dump_tree(const SyntaxNode& root);
// The tree dump followed by one "error start..end: code" line per diagnostic.
std::string dump_tree(const SyntaxNode& root, const std::vector<Diagnostic>& diagnostics);

}  // namespace quib
