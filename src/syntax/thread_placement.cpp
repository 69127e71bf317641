#include "syntax/thread_placement.h"

#include <algorithm>

#if defined(__linux__)
#include <sched.h>
#include <unistd.h>
#endif

namespace quib {

#if defined(__linux__)

namespace {

// The processors of `set`, ascending.
std::vector<int> processors_of(const cpu_set_t& set) {
  std::vector<int> processors;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) processors.push_back(cpu);
  }
  return processors;
}

}  // namespace

void ThreadPlacement::adopt_calling_thread() {
  thread_ = pthread_self();
  cpu_set_t set;
  CPU_ZERO(&set);
  if (pthread_getaffinity_np(thread_, sizeof set, &set) != 0) return;
  allowed_ = processors_of(set);
  adopted_ = true;
  excluded_ = -1;
}

cpu_set_t ThreadPlacement::set_without(int excluded) const {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : allowed_) {
    if (cpu != excluded) CPU_SET(cpu, &set);
  }
  return set;
}

void ThreadPlacement::follow_outside_placement() {
  cpu_set_t now;
  CPU_ZERO(&now);
  if (pthread_getaffinity_np(thread_, sizeof now, &now) != 0) return;
  const cpu_set_t left = set_without(excluded_);
  if (CPU_EQUAL(&now, &left)) return;
  allowed_ = processors_of(now);
  excluded_ = -1;
}

bool ThreadPlacement::apply(int excluded) {
  const cpu_set_t set = set_without(excluded);
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

void ThreadPlacement::follow_outside_placement() {}

bool ThreadPlacement::apply(int) {
  return false;
}

int current_processor() {
  return -1;
}

void run_where_the_process_may() {}

#endif

void ThreadPlacement::keep_off(int processor) {
  if (!adopted_ || processor == excluded_) return;
  follow_outside_placement();
  if (processor == excluded_ || allowed_.size() < 2) return;
  if (!std::binary_search(allowed_.begin(), allowed_.end(), processor)) return;
  if (apply(processor)) excluded_ = processor;
}

void ThreadPlacement::allow_all() {
  if (!adopted_ || excluded_ == -1) return;
  follow_outside_placement();
  if (excluded_ == -1) return;
  if (apply(-1)) excluded_ = -1;
}

}  // namespace quib
