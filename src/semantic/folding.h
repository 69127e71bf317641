// Foldable regions of a document, as byte ranges computed from the model: every task, every
// command block of two or more lines, every group. Knows nothing of lines or the protocol.
#pragma once

#include <cstdint>
#include <vector>

#include "semantic/model.h"
#include "syntax/text_range.h"

namespace quib {

enum class FoldingFamily : uint8_t { Task, Block, Group };

// [start, end) in document bytes; `end` may be followed or preceded by blanks, which the
// protocol layer trims when it turns the region into lines.
struct FoldingRegion {
  uint32_t start = 0;
  uint32_t end = 0;
  FoldingFamily family = FoldingFamily::Task;
  bool operator==(const FoldingRegion&) const = default;
};

// Task regions, then block regions, then group regions, each in model order; not sorted and
// not de-duplicated. A closed group ends with its `}` line. An unclosed group ends with the
// last task of any group of its name, anywhere in the document (a name opened again is the same
// group continued), or with its own line when that comes later.
std::vector<FoldingRegion> folding_ranges(const SemanticModel& model);

}  // namespace quib
