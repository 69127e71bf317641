// Keeping a thread off one processor: only processors it may run on, never all of them, and
// every processor it was allowed back on request.
#include "syntax/thread_placement.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

namespace quib {
namespace {

#if defined(__linux__)

std::vector<int> allowed_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  EXPECT_EQ(pthread_getaffinity_np(pthread_self(), sizeof set, &set), 0);
  std::vector<int> processors;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) processors.push_back(cpu);
  }
  return processors;
}

void allow_only(const std::vector<int>& processors) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : processors) CPU_SET(cpu, &set);
  ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof set, &set), 0);
}

// Each case runs on a thread of its own, so that narrowing it leaves the test runner alone.
template <typename Body>
void on_own_thread(Body body) {
  std::thread(body).join();
}

// A case that needs two processors to keep the thread off one, on a thread of its own; it is
// handed the processors the thread may run on.
template <typename Body>
void on_own_thread_with_two_processors(Body body) {
  on_own_thread([&] {
    const std::vector<int> all = allowed_processors();
    if (all.size() < 2) GTEST_SKIP() << "needs two processors";
    body(all);
  });
}

TEST(ThreadPlacement, KeepsOffOneProcessorAndAllowsAllAgain) {
  on_own_thread_with_two_processors([](const std::vector<int>& all) {
    ThreadPlacement placement;
    placement.adopt_calling_thread();
    placement.keep_off(all[1]);
    EXPECT_EQ(placement.excluded(), all[1]);
    std::vector<int> expected = all;
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(allowed_processors(), expected);
    EXPECT_NE(current_processor(), all[1]);
    // Kept off another one instead: the first is allowed again.
    placement.keep_off(all[0]);
    EXPECT_EQ(placement.excluded(), all[0]);
    expected = all;
    expected.erase(expected.begin());
    EXPECT_EQ(allowed_processors(), expected);
    placement.allow_all();
    EXPECT_EQ(placement.excluded(), -1);
    EXPECT_EQ(allowed_processors(), all);
  });
}

TEST(ThreadPlacement, NeverLeavesTheThreadNowhereToRun) {
  on_own_thread([] {
    const std::vector<int> all = allowed_processors();
    // A processor the thread may not run on, or none at all: nothing to keep off.
    ThreadPlacement placement;
    placement.adopt_calling_thread();
    placement.keep_off(-1);
    placement.keep_off(CPU_SETSIZE + 1);
    EXPECT_EQ(placement.excluded(), -1);
    EXPECT_EQ(allowed_processors(), all);
    // A thread allowed on one processor stays there.
    allow_only({all.front()});
    ThreadPlacement single;
    single.adopt_calling_thread();
    single.keep_off(all.front());
    EXPECT_EQ(single.excluded(), -1);
    EXPECT_EQ(allowed_processors(), std::vector<int>{all.front()});
    if (all.size() >= 2) {
      single.keep_off(all[1]);
      EXPECT_EQ(single.excluded(), -1);
    }
  });
}

// Someone else (`taskset`) placing the thread between two calls is followed, never undone:
// allowing all again keeps the thread where it was put, and keeping it off a processor narrows
// the new set, not the old one.
TEST(ThreadPlacement, FollowsAPlacementMadeFromOutside) {
  on_own_thread_with_two_processors([](const std::vector<int>& all) {
    ThreadPlacement placement;
    placement.adopt_calling_thread();
    placement.keep_off(all[1]);
    allow_only({all[1]});
    placement.allow_all();
    EXPECT_EQ(placement.excluded(), -1);
    EXPECT_EQ(allowed_processors(), std::vector<int>{all[1]});
    // Now allowed on one processor only: there is nothing to keep it off.
    placement.keep_off(all[1]);
    EXPECT_EQ(allowed_processors(), std::vector<int>{all[1]});
    // Placed from outside while nothing was excluded: the thread is on one processor now, so
    // keeping it off that one changes nothing.
    allow_only(all);
    ThreadPlacement other;
    other.adopt_calling_thread();
    allow_only({all[0]});
    other.keep_off(all[0]);
    EXPECT_EQ(other.excluded(), -1);
    EXPECT_EQ(allowed_processors(), std::vector<int>{all[0]});
  });
}

// A thread started by one pinned to a single processor runs where the process may once it
// asks to.
TEST(ThreadPlacement, RunsWhereTheProcessMay) {
  const std::vector<int> all = allowed_processors();
  on_own_thread([&] {
    allow_only({all.front()});
    run_where_the_process_may();
    EXPECT_EQ(allowed_processors(), all);
  });
}

#endif

// Without adopting a thread, nothing is placed.
TEST(ThreadPlacement, DoesNothingBeforeAdoptingAThread) {
  ThreadPlacement placement;
  placement.keep_off(0);
  placement.allow_all();
  EXPECT_EQ(placement.excluded(), -1);
}

}  // namespace
}  // namespace quib
