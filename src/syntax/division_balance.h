// How to divide one kind of job between the calling thread and the helper so that both sides
// end together, learnt from how the two sides of earlier jobs of that kind compared on the
// processors they ran on. A processor that shares its core with other work (another process,
// or another machine on the same host) may run at two thirds of its speed for a while, and not
// every kind of work slows down alike; an even division then leaves the other side waiting for
// a third of its time.
#pragma once

#include <array>
#include <mutex>

namespace quib {

// Relative speeds by processor number for one kind of divided job. Thread-safe.
// Invariant: every tracked processor's log speed lies within kMaxLogRatio of zero, so any two
// differ by less than twice that.
class DivisionBalance {
 public:
  // The bounds of a caller's share, so that a wrong estimate costs a bounded imbalance.
  static constexpr double kMinShare = 0.3;
  static constexpr double kMaxShare = 0.7;
  // Processors numbered from here on are not tracked; a job they share is divided in halves.
  static constexpr int kTracked = 256;
  // A side shorter than this says little of its processor: waking up or a few cache misses
  // weigh on it as much as the work.
  static constexpr double kMinSideSeconds = 100e-6;

  // The share of a job for the side on processor `caller`, the rest going to the side on
  // `helper`: one half unless both are tracked, differ, and have run at different speeds.
  double caller_share(int caller, int helper) const;

  // One divided job: the side on `caller` did `share` of it in `caller_seconds`, the side on
  // `helper` the rest in `helper_seconds`. Moves the estimate a bounded step towards what the
  // job showed, so that a side delayed once (descheduled for a moment) barely shifts the next
  // division, while a processor that stays slower is followed within a few jobs.
  void record(int caller, int helper, double share, double caller_seconds, double helper_seconds);

 private:
  static bool tracked(int processor) { return processor >= 0 && processor < kTracked; }

  mutable std::mutex mutex_;
  // Natural logarithms of relative speeds; only differences mean anything.
  std::array<double, kTracked> log_speed_{};
};

}  // namespace quib
