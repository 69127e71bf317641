// Dividing a job between two processors from how they compared before: halves until they are
// known to differ, shares that follow a lasting difference within a few jobs, bounded steps and
// bounded shares whatever one job shows.
#include "syntax/division_balance.h"

#include <gtest/gtest.h>

#include <limits>

namespace quib {
namespace {

constexpr double kMs = 1e-3;

// Runs `jobs` jobs between processors 0 (caller) and 1 (helper), each divided as the balance
// says, where the caller's processor does `caller_speed` times the work per second of the
// helper's: what a machine with one slower core shows.
double share_after(DivisionBalance& balance, double caller_speed, int jobs) {
  for (int i = 0; i < jobs; ++i) {
    const double share = balance.caller_share(0, 1);
    balance.record(0, 1, share, 2 * kMs * share / caller_speed, 2 * kMs * (1 - share));
  }
  return balance.caller_share(0, 1);
}

TEST(DivisionBalance, HalvesUntilTheProcessorsAreKnownToDiffer) {
  DivisionBalance balance;
  EXPECT_EQ(balance.caller_share(0, 1), 0.5);
  EXPECT_EQ(balance.caller_share(3, 0), 0.5);
  // Jobs that show nothing: sides on one processor, untracked processors, sides too short to
  // tell, and shares that are no division.
  balance.record(1, 1, 0.5, 1 * kMs, 3 * kMs);
  balance.record(-1, 1, 0.5, 1 * kMs, 3 * kMs);
  balance.record(0, DivisionBalance::kTracked, 0.5, 1 * kMs, 3 * kMs);
  balance.record(0, 1, 0.5, 10e-6, 3 * kMs);
  balance.record(0, 1, 0.0, 1 * kMs, 3 * kMs);
  balance.record(0, 1, std::numeric_limits<double>::quiet_NaN(), 1 * kMs, 3 * kMs);
  EXPECT_EQ(balance.caller_share(0, 1), 0.5);
  EXPECT_EQ(balance.caller_share(1, 1), 0.5);
  EXPECT_EQ(balance.caller_share(-1, 0), 0.5);
}

struct SpeedCase {
  const char* name;
  double caller_speed;  // the caller's processor against the helper's
  double share;         // where the division settles
};

class DivisionBalanceSpeeds : public testing::TestWithParam<SpeedCase> {};

// The division settles where both sides end together (share : 1 - share = speed ratio), within
// the bounds, and seen from the other side it is the same division.
TEST_P(DivisionBalanceSpeeds, SettlesWhereBothSidesEndTogether) {
  const SpeedCase& c = GetParam();
  DivisionBalance balance;
  EXPECT_NEAR(share_after(balance, c.caller_speed, 12), c.share, 0.005);
  EXPECT_NEAR(balance.caller_share(1, 0), 1 - c.share, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DivisionBalanceSpeeds,
    testing::Values(SpeedCase{"Even", 1.0, 0.5}, SpeedCase{"CallerFaster", 1.5, 0.6},
                    SpeedCase{"HelperFaster", 1 / 1.5, 0.4},
                    SpeedCase{"CallerMuchFaster", 5.0, DivisionBalance::kMaxShare},
                    SpeedCase{"HelperMuchFaster", 0.2, DivisionBalance::kMinShare}),
    [](const testing::TestParamInfo<SpeedCase>& info) { return info.param.name; });

// One job whose helper was held up for long (descheduled) moves the next division only a
// step, and the division comes back once the sides run alike again.
TEST(DivisionBalance, OneDelayedSideMovesTheDivisionOnlyAStep) {
  DivisionBalance balance;
  balance.record(0, 1, 0.5, 1 * kMs, 20 * kMs);
  const double after_delay = balance.caller_share(0, 1);
  EXPECT_GT(after_delay, 0.5);
  EXPECT_LT(after_delay, 0.58);
  EXPECT_NEAR(share_after(balance, 1.0, 4), 0.5, 1e-9);
}

// A lasting difference is followed within a few jobs, not dozens.
TEST(DivisionBalance, FollowsALastingDifferenceWithinAFewJobs) {
  DivisionBalance balance;
  EXPECT_GT(share_after(balance, 1.5, 3), 0.58);
  EXPECT_LT(share_after(balance, 1 / 1.5, 4), 0.42);
}

}  // namespace
}  // namespace quib
