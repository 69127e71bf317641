#include "syntax/thread_placement.h"

#include <algorithm>

#if defined(__linux__)
#include <sched.h>
#include <unistd.h>
#endif

namespace quib {

#if defined(__linux__)

void ThreadPlacement::adopt_calling_thread() {
  thread_ = pthread_self();
  cpu_set_t set;
  CPU_ZERO(&set);
  if (pthread_getaffinity_np(thread_, sizeof set, &set) != 0) return;
  allowed_.clear();
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) allowed_.push_back(cpu);
  }
  adopted_ = true;
  excluded_ = -1;
}

bool ThreadPlacement::apply(int excluded) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : allowed_) {
    if (cpu != excluded) CPU_SET(cpu, &set);
  }
  return pthread_setaffinity_np(thread_, sizeof set, &set) == 0;
}

int current_processor() {
  return sched_getcpu();
}

void run_where_the_process_may() {
  cpu_set_t set;
  CPU_ZERO(&set);
  // The process id names the main thread.
  if (sched_getaffinity(getpid(), sizeof set, &set) != 0) return;
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

#else

void ThreadPlacement::adopt_calling_thread() {}

bool ThreadPlacement::apply(int) {
  return false;
}

int current_processor() {
  return -1;
}

void run_where_the_process_may() {}

#endif

void ThreadPlacement::keep_off(int processor) {
  if (!adopted_ || processor == excluded_ || allowed_.size() < 2) return;
  if (!std::binary_search(allowed_.begin(), allowed_.end(), processor)) return;
  if (apply(processor)) excluded_ = processor;
}

void ThreadPlacement::allow_all() {
  if (!adopted_ || excluded_ == -1) return;
  if (apply(-1)) excluded_ = -1;
}

}  // namespace quib
