// Running two pieces of work at once: both always run, failures come back to the caller, and a
// caller that finds the helper busy (a nested or a concurrent split) does the work itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "syntax/parallel.h"
#include "syntax/thread_placement.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace quib {
namespace {

// Back to back, where each side finds the other still spinning, and with pauses longer than
// the spin before a call, in either piece or in both, where one side has gone to sleep and must
// be woken.
TEST(RunInParallel, RunsBothPieces) {
  const auto pause = [](int round, int every) {
    if (round % every == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  for (int round = 0; round < 200; ++round) {
    int first = 0;
    int second = 0;
    pause(round, 7);
    run_in_parallel(
        [&] {
          pause(round, 5);
          first = round;
        },
        [&] {
          pause(round, 3);
          second = round + 1;
        });
    ASSERT_EQ(first, round);
    ASSERT_EQ(second, round + 1);
  }
}

struct FailureCase {
  const char* name;
  bool first_throws;
  bool second_throws;
  const char* expected;  // the message of the exception that reaches the caller
};

class RunInParallelFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(RunInParallelFailure, RethrowsAfterBothFinished) {
  const FailureCase& c = GetParam();
  bool first_done = false;
  bool second_done = false;
  try {
    run_in_parallel(
        [&] {
          first_done = true;
          if (c.first_throws) throw std::runtime_error("first");
        },
        [&] {
          second_done = true;
          if (c.second_throws) throw std::runtime_error("second");
        });
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), c.expected);
  }
  EXPECT_TRUE(first_done);
  EXPECT_TRUE(second_done);
  // The helper is free again afterwards.
  int after = 0;
  run_in_parallel([] {}, [&] { after = 1; });
  EXPECT_EQ(after, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunInParallelFailure,
                         testing::Values(FailureCase{"First", true, false, "first"},
                                         FailureCase{"Second", false, true, "second"},
                                         FailureCase{"Both", true, true, "first"}),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                           return std::string(info.param.name);
                         });

// A split inside a split finds the helper busy and runs inline instead of waiting for itself.
TEST(RunInParallel, NestedSplitsRunInline) {
  std::atomic<int> count = 0;
  const auto inner = [&] { run_in_parallel([&] { ++count; }, [&] { ++count; }); };
  run_in_parallel(inner, inner);
  EXPECT_EQ(count.load(), 4);
}

// Callers on several threads share the one helper; whoever finds it busy works alone.
TEST(RunInParallel, ConcurrentCallersAllFinish) {
  std::atomic<int> count = 0;
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&] {
      for (int i = 0; i < 500; ++i) run_in_parallel([&] { ++count; }, [&] { ++count; });
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(count.load(), 4 * 500 * 2);
}

// A background job runs only while nobody else wants the helper: a split asks it to give way,
// waits for it to return and then has the helper for its second piece, whether the job had
// begun or not when it asked. Meanwhile nobody else can start a job on the helper.
TEST(RunInParallel, BackgroundJobGivesWay) {
  for (int round = 0; round < 50; ++round) {
    std::atomic<bool> yield = false;
    std::atomic<bool> started = false;
    std::atomic<bool> returned = false;
    auto job = [&] {
      started = true;
      while (!yield.load()) std::this_thread::yield();
      returned = true;
    };
    using Job = decltype(job);
    const detail::JobRef ref{&job, [](void* callable) { (*static_cast<Job*>(callable))(); }};
    ASSERT_TRUE(detail::start_background_on_helper(ref, yield));
    EXPECT_FALSE(detail::start_background_on_helper(ref, yield));
    if (round % 2 == 1) {
      while (!started.load()) std::this_thread::yield();
    }
    std::thread::id second_thread;
    run_in_parallel([] {}, [&] { second_thread = std::this_thread::get_id(); });
    EXPECT_TRUE(returned.load());
    EXPECT_NE(second_thread, std::this_thread::get_id());
  }
}

#if defined(__linux__)
// The helper runs its side of a job beside its caller, never queued behind it on the caller's
// processor, also when it last ran there. The caller stays busy until the helper has run, as a
// caller with its own part to do does: a caller that waits for the helper lets it run anywhere
// once it stops spinning (the other processor may be busy with other work for long).
TEST(RunInParallel, HelperRunsBesideTheCaller) {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed), 0);
  if (CPU_COUNT(&allowed) < 2) GTEST_SKIP() << "needs two processors";
  std::vector<int> processors;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) processors.push_back(cpu);
  }
  int checked = 0;
  for (int round = 0; round < 6; ++round) {
    const int pinned = processors[static_cast<size_t>(round) % 2];
    std::atomic<int> helper_processor{-2};
    bool helper_ran_meanwhile = false;
    std::thread([&] {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(pinned, &one);
      ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);
      run_in_parallel(
          [&] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
            while (helper_processor.load() == -2 && std::chrono::steady_clock::now() < until) {
            }
            helper_ran_meanwhile = helper_processor.load() != -2;
          },
          [&] { helper_processor.store(current_processor()); });
    }).join();
    if (!helper_ran_meanwhile) continue;  // the other processor was busy for that long
    ++checked;
    EXPECT_NE(helper_processor.load(), pinned) << "round " << round;
  }
  EXPECT_GT(checked, 0);
}
#endif

// A divided job runs both sides, and however unlike they take, the next division stays within
// its bounds.
TEST(RunDivided, RunsBothSidesWithinBoundedShares) {
  DivisionBalance balance;
  for (int round = 0; round < 20; ++round) {
    const double share = caller_share(balance);
    ASSERT_GE(share, DivisionBalance::kMinShare);
    ASSERT_LE(share, DivisionBalance::kMaxShare);
    int first = 0;
    int second = 0;
    run_divided(
        balance, share, [&] { first = 1; },
        [&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          second = 1;
        });
    ASSERT_EQ(first + second, 2);
  }
}

}  // namespace
}  // namespace quib
