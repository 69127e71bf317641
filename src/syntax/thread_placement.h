// Keeps one thread off one processor: the helper thread off the processor of the thread it is
// about to help. Woken while every processor looks busy, a thread may be queued on its waker's
// processor although another one is about to be free, and then runs only once the waker has
// finished its own part: the two parts of a divided job run one after the other.
#pragma once

#include <pthread.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include <vector>

namespace quib {

// The processors one thread may run on, narrowed by one at a time. Not thread-safe: its owner
// serialises the calls. Where processor placement cannot be set, every call does nothing.
// Invariant: unless someone else has placed the thread since, it may run on every processor it
// was allowed (at `adopt_calling_thread`, or as someone else last placed it), except
// `excluded()` when that is not -1. A placement made from outside (`taskset`) is taken as the
// new set of allowed processors, never undone.
class ThreadPlacement {
 public:
  // Takes the calling thread as the one to place, allowed where it may run now.
  void adopt_calling_thread();
  // Keeps the thread off `processor`, unless that would leave it fewer than one processor or
  // `processor` is not one it may run on.
  void keep_off(int processor);
  // Lets the thread run on every processor it was allowed.
  void allow_all();
  // The processor the thread is kept off, or -1.
  int excluded() const { return excluded_; }

 private:
  bool apply(int excluded);
#if defined(__linux__)
  // The allowed processors but `excluded`.
  cpu_set_t set_without(int excluded) const;
#endif
  // Takes the thread's processors as the allowed ones, with none excluded, if they are not the
  // ones this placement last gave it.
  void follow_outside_placement();

  bool adopted_ = false;
  pthread_t thread_{};
  std::vector<int> allowed_;  // processor numbers, ascending
  int excluded_ = -1;
};

// The processor the calling thread runs on, or -1 where that cannot be told.
int current_processor();

// Lets the calling thread run on every processor the process's main thread may: a thread
// inherits the processors of the thread that started it, which may have been pinned to fewer.
void run_where_the_process_may();

}  // namespace quib
