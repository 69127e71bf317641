// One helper for every diagnostic table: a fixture with `[[...]]` ranges and the exact list of
// diagnostics `analyze` must return for it, in order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fixture.h"
#include "semantic/analyze.h"
#include "syntax/parse.h"

namespace quib::testing_support {

inline constexpr int kNext = -1;

struct ExpectedDiagnostic {
  std::string_view code;
  std::string_view message;
  DiagnosticStage stage;
  // The range runs from the start of marker `from` to the end of marker `to`. `from` defaults
  // to the diagnostic's own position in the list, `to` to `from`.
  int from = kNext;
  int to = kNext;
};

struct DiagnosticCase {
  std::string_view name;  // the test name: letters, digits and underscores
  std::string_view fixture;
  std::vector<ExpectedDiagnostic> expected;
};

inline std::string case_name(const testing::TestParamInfo<DiagnosticCase>& info) {
  return std::string(info.param.name);
}

inline void expect_diagnostics(const DiagnosticCase& c) {
  const Fixture fixture = parse_fixture(c.fixture);
  const ParseResult parsed = parse(fixture.text);
  const SemanticModel model = analyze(parsed);
  ASSERT_EQ(model.diagnostics.size(), c.expected.size()) << [&] {
    std::string listed;
    for (const Diagnostic& d : model.diagnostics) {
      listed += d.code + " " + std::to_string(d.range.start) + ".." + std::to_string(d.range.end) +
                ": " + d.message + "\n";
    }
    return listed;
  }();
  for (size_t i = 0; i < c.expected.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "diagnostic " << i);
    const ExpectedDiagnostic& expected = c.expected[i];
    const Diagnostic& actual = model.diagnostics[i];
    const size_t from = expected.from == kNext ? i : static_cast<size_t>(expected.from);
    const size_t to = expected.to == kNext ? from : static_cast<size_t>(expected.to);
    ASSERT_LT(to, fixture.ranges.size()) << "fixture has too few [[...]] markers";
    EXPECT_EQ(actual.code, expected.code);
    EXPECT_EQ(actual.message, expected.message);
    EXPECT_EQ(actual.stage, expected.stage);
    EXPECT_EQ(actual.range, TextRange(fixture.ranges[from].start, fixture.ranges[to].end));
  }
}

}  // namespace quib::testing_support
