// Two pieces of work at once: the only place where the language path uses a second thread.
// Large documents are parsed, lowered, highlighted and formatted in two parts, one on the
// calling thread and one on a helper thread that lives as long as the process.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <utility>

namespace quib {

namespace detail {

// A hint to the processor that this thread is spinning.
inline void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Spins until `done()` or `limit` has passed; whether `done()` held. For a wait expected to end
// within microseconds, where sleeping and being woken would cost more.
template <typename Done>
bool spin_until(Done&& done, std::chrono::microseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (uint32_t round = 0;; ++round) {
    if (done()) return true;
    pause_briefly();
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
// the job tells its own starter that it has ended.
bool start_background_on_helper(JobRef job, std::atomic<bool>& yield);

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

}  // namespace quib
