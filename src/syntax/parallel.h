// Two pieces of work at once: the only place where the language path uses a second thread.
// Large documents are parsed, lowered, highlighted and formatted in two parts, one on the
// calling thread and one on a helper thread that lives as long as the process.
#pragma once

#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <utility>

#include "syntax/division_balance.h"

namespace quib {

namespace detail {

// A hint to the processor that this thread is spinning.
inline void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Spins until `done()` or `limit` has passed; whether `done()` held. For a wait expected to end
// within microseconds, where sleeping and being woken would cost more. The spinning thread
// offers its processor at every check: a thread woken meanwhile may have been queued on this
// processor, and the kernel does not preempt a spinning thread for it. Without that, the
// message handler woken by the reader waited out the helper's whole spin for its next job
// whenever it was queued behind it, though the other processor had gone idle.
template <typename Done>
bool spin_until(Done&& done, std::chrono::microseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (uint32_t round = 0;; ++round) {
    if (done()) return true;
    pause_briefly();
    sched_yield();
    if (round % 64 == 63 && std::chrono::steady_clock::now() >= until) return done();
  }
}

// A call of some callable without owning it or allocating.
struct JobRef {
  void* callable;
  void (*invoke)(void* callable);
};

// Starts `job` on the helper thread; false when the helper is busy with another caller's job
// or cannot be started, and the caller must run the job itself.
bool start_on_helper(JobRef job);
// Waits until the job started by the last successful start_on_helper of this caller is done.
void wait_for_helper();
// Starts `job` on the helper thread as a background job, which runs only while nobody else
// needs the helper; false when the helper is busy or cannot be started. A caller that wants the
// helper meanwhile (start_on_helper, run_in_parallel) sets `yield` and waits for the job to
// return, so the job must check `yield` often and return soon after it turns true. Nobody waits
// for the job with wait_for_helper: the helper is free again as soon as the job returns, and
// its starter waits for it with wait_for_background_job.
bool start_background_on_helper(JobRef job, std::atomic<bool>& yield);
// Waits until the helper is done with `job`, a background job this caller started: the job has
// returned and the helper keeps nothing of it, so its callable and `yield` may go, and the
// helper takes the next job at once. A starter that wants that soon sets `yield` first.
void wait_for_background_job(JobRef job);

// Where and for how long one side of a divided job ran: set on construction and destruction of
// a SideTimer.
struct SideTime {
  int start_processor = -1;
  int end_processor = -1;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point end;
};

class SideTimer {
 public:
  explicit SideTimer(SideTime& time);
  ~SideTimer();
  SideTimer(const SideTimer&) = delete;
  SideTimer& operator=(const SideTimer&) = delete;

 private:
  SideTime& time_;
};

// Tells `balance` what one divided job showed; a side that changed processors meanwhile, or
// both on one processor, show nothing.
void record_division(DivisionBalance& balance, double caller_share, const SideTime& caller,
                     const SideTime& helper);

}  // namespace detail

// Starts the helper thread unless it runs already, and returns once it has made its first
// allocation. A process calls this before it starts any other thread: the allocator gives each
// thread the arena of its first allocation, and the helper, which allocates at the same time as
// the thread it helps, must not share that thread's arena.
void start_helper();

// Runs `second` on the helper thread while the calling thread runs `first`, and returns once
// both are done; a background job on the helper gives way first. When the helper is busy
// (another document is being split) or cannot be
// started, runs `second` after `first` on the calling thread: the result is the same, only
// slower. An exception from either is rethrown here after both have finished (the first one's
// when both threw). `first` and `second` must not share unsynchronised state.
template <typename First, typename Second>
void run_in_parallel(First&& first, Second&& second) {
  std::exception_ptr second_failure;
  auto guarded_second = [&] {
    try {
      second();
    } catch (...) {
      second_failure = std::current_exception();
    }
  };
  using Guarded = decltype(guarded_second);
  const detail::JobRef job{&guarded_second,
                           [](void* callable) { (*static_cast<Guarded*>(callable))(); }};
  if (!detail::start_on_helper(job)) {
    first();
    second();
    return;
  }
  std::exception_ptr first_failure;
  try {
    first();
  } catch (...) {
    first_failure = std::current_exception();
  }
  detail::wait_for_helper();
  if (first_failure) std::rethrow_exception(first_failure);
  if (second_failure) std::rethrow_exception(second_failure);
}

// The share of a job of the kind `balance` learns that the calling thread should take, the
// helper the rest, so that both sides end together on the processors they now run on: one half
// unless those processors have lately run such jobs at different speeds.
double caller_share(const DivisionBalance& balance);

// As run_in_parallel, for one job divided so that `first` does `share` of it and `second` the
// rest: how long each side took goes into `balance`, for the next job of its kind.
template <typename First, typename Second>
void run_divided(DivisionBalance& balance, double share, First&& first, Second&& second) {
  detail::SideTime first_time;
  detail::SideTime second_time;
  run_in_parallel(
      [&] {
        const detail::SideTimer timer(first_time);
        first();
      },
      [&] {
        const detail::SideTimer timer(second_time);
        second();
      });
  detail::record_division(balance, share, first_time, second_time);
}

}  // namespace quib
