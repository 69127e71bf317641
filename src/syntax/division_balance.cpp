#include "syntax/division_balance.h"

#include <algorithm>
#include <cmath>

namespace quib {

namespace {

// The largest step one job moves the difference of two log speeds: a third of the way from
// even to the widest division, so that a lasting difference is followed within three jobs.
constexpr double kMaxStep = 0.28;

// Log speed differences beyond this give a share beyond the bounds.
const double kMaxLogRatio = std::log(DivisionBalance::kMaxShare / DivisionBalance::kMinShare);

}  // namespace

double DivisionBalance::caller_share(int caller, int helper) const {
  if (!tracked(caller) || !tracked(helper) || caller == helper) return 0.5;
  double difference;
  {
    std::lock_guard lock(mutex_);
    difference = log_speed_[static_cast<size_t>(caller)] - log_speed_[static_cast<size_t>(helper)];
  }
  // Both sides end together when each share is in proportion to its processor's speed.
  const double share = 1.0 / (1.0 + std::exp(-difference));
  return std::clamp(share, kMinShare, kMaxShare);
}

void DivisionBalance::record(int caller, int helper, double share, double caller_seconds,
                             double helper_seconds) {
  if (!tracked(caller) || !tracked(helper) || caller == helper) return;
  if (caller_seconds < kMinSideSeconds || helper_seconds < kMinSideSeconds) return;
  if (!(share > 0.0 && share < 1.0)) return;
  // Speed is work per second: the caller's over the helper's.
  const double observed =
      std::clamp(std::log((share / caller_seconds) / ((1.0 - share) / helper_seconds)),
                 -kMaxLogRatio, kMaxLogRatio);
  std::lock_guard lock(mutex_);
  double& caller_speed = log_speed_[static_cast<size_t>(caller)];
  double& helper_speed = log_speed_[static_cast<size_t>(helper)];
  const double step = std::clamp(observed - (caller_speed - helper_speed), -kMaxStep, kMaxStep);
  caller_speed = std::clamp(caller_speed + step / 2, -kMaxLogRatio, kMaxLogRatio);
  helper_speed = std::clamp(helper_speed - step / 2, -kMaxLogRatio, kMaxLogRatio);
}

}  // namespace quib
