// Test fixtures that read like documents: `[[` and `]]` mark expected ranges inline and are
// stripped before parsing. Markers nest; ranges are numbered in the order their `[[` appears.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "syntax/assert.h"
#include "syntax/text_range.h"

namespace quib::testing_support {

struct Fixture {
  std::string text;               // the document without markers
  std::vector<TextRange> ranges;  // in the order of their opening markers
};

inline Fixture parse_fixture(std::string_view annotated) {
  Fixture fixture;
  std::vector<size_t> open;  // indices into fixture.ranges of the unclosed markers
  for (size_t i = 0; i < annotated.size(); ++i) {
    const std::string_view rest = annotated.substr(i);
    const auto here = static_cast<uint32_t>(fixture.text.size());
    if (rest.starts_with("[[")) {
      open.push_back(fixture.ranges.size());
      fixture.ranges.emplace_back(here, here);
      ++i;
    } else if (rest.starts_with("]]") && !open.empty()) {
      fixture.ranges[open.back()] = TextRange(fixture.ranges[open.back()].start, here);
      open.pop_back();
      ++i;
    } else {
      fixture.text += annotated[i];
    }
  }
  QUIB_ASSERT(open.empty(), "fixture has an unclosed [[ marker");
  return fixture;
}

}  // namespace quib::testing_support
