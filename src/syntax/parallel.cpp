#include "syntax/parallel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "syntax/thread_placement.h"

namespace quib::detail {
namespace {

// How long a side that waits for the other spins before it sleeps. An analysis hands the helper
// several jobs in a row, each a few milliseconds or less, with up to a tenth of a millisecond of
// work alone between them (joining the two parts of a large tree), and the two sides of a job
// may finish a tenth of a millisecond apart; waking a sleeping thread takes tens of microseconds
// on each side, so spinning that long turns most hand-overs into a few loads. A side that spins
// has nothing else to do meanwhile; when nothing comes, it sleeps after this.
constexpr auto kSpin = std::chrono::microseconds(200);

// One thread that runs one job at a time. A thread started per job would often begin only
// after the job it was meant to share had ended: the kernel first places a new thread on its
// parent's processor. A waiting thread that is woken goes to an idle processor, when the kernel
// sees one: a starter keeps the helper off its own processor for the job (see ThreadPlacement),
// and a side about to sleep while waiting for the helper lets it run anywhere again, so that it
// may take the processor that side leaves.
// Invariant: `job` is set from a successful start until its run ends; `running` is true from a
// successful start until the run ends (set under the mutex, read by spinning sides without it);
// `busy` from a successful start until the starter has seen the end in wait_for_helper, or for
// a background job until its run ends.
class Helper {
 public:
  // The process's helper, started on first use; null when no thread could be started. Never
  // destroyed: it may be in use while static objects are destroyed.
  static Helper* instance() {
    static Helper* helper = [] {
      auto* made = new Helper();
      try {
        std::thread(&Helper::loop, made).detach();
      } catch (const std::system_error&) {
        delete made;
        return static_cast<Helper*>(nullptr);
      }
      std::unique_lock lock(made->mutex_);
      made->done_.wait(lock, [&] { return made->started_; });
      return made;
    }();
    return helper;
  }

  bool start(JobRef job) {
    {
      std::unique_lock lock(mutex_);
      if (busy_ && background_) {
        // A background job gives way: it returns soon after it is asked to.
        yield_->store(true, std::memory_order_relaxed);
        placement_.allow_all();
        done_.wait(lock, [&] { return !busy_; });
      }
      if (busy_) return false;
      busy_ = true;
      job_ = job;
      placement_.keep_off(current_processor());
      running_.store(true, std::memory_order_release);
    }
    wake_.notify_one();
    return true;
  }

  // The processor the helper ran its last job on, where it most likely runs its next; -1 before
  // the first.
  int last_processor() const { return last_processor_.load(std::memory_order_relaxed); }

  bool start_background(JobRef job, std::atomic<bool>& yield) {
    {
      std::lock_guard lock(mutex_);
      if (busy_) return false;
      busy_ = true;
      background_ = true;
      yield_ = &yield;
      job_ = job;
      placement_.keep_off(current_processor());
      running_.store(true, std::memory_order_release);
    }
    wake_.notify_one();
    return true;
  }

  void wait() {
    const auto finished = [&] { return !running_.load(std::memory_order_acquire); };
    std::unique_lock lock(mutex_, std::defer_lock);
    if (spin_until(finished, kSpin)) {
      lock.lock();
    } else {
      lock.lock();
      placement_.allow_all();
      done_.wait(lock, finished);
    }
    busy_ = false;
  }

  // Waits until the helper is done with the background job `job`, started by this caller: the
  // job has returned and the helper no longer refers to it. Spins first, since the job returns
  // soon once asked to; a caller about to sleep lets the helper run anywhere, its own processor
  // included.
  void wait_background(JobRef job) {
    const auto finished = [&] { return !running_.load(std::memory_order_acquire); };
    const bool spun = spin_until(finished, kSpin);
    std::unique_lock lock(mutex_);
    if (!spun) placement_.allow_all();
    done_.wait(lock, [&] { return !(busy_ && background_ && job_.callable == job.callable); });
  }

 private:
  void loop() {
    // The first allocation of this thread, which settles its allocator arena.
    void* volatile first = std::malloc(1);
    std::free(first);
    // The helper serves every thread of the process, not only the one that happened to start it.
    run_where_the_process_may();
    std::unique_lock lock(mutex_);
    placement_.adopt_calling_thread();
    started_ = true;
    done_.notify_all();
    const auto has_job = [&] { return running_.load(std::memory_order_acquire); };
    for (;;) {
      lock.unlock();
      const bool spun = spin_until(has_job, kSpin);
      lock.lock();
      if (!spun) wake_.wait(lock, has_job);
      const JobRef job = job_;
      lock.unlock();
      last_processor_.store(current_processor(), std::memory_order_relaxed);
      job.invoke(job.callable);
      lock.lock();
      running_.store(false, std::memory_order_release);
      if (background_) {
        // Nobody waits for a background job's end with wait(): the helper is free at once.
        background_ = false;
        busy_ = false;
      }
      // Both the starter of a job and a caller waiting for a background job to give way wait
      // on `done_`.
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  JobRef job_{};
  bool busy_ = false;
  // The job is a background one, which nobody waits for and which returns soon after
  // `*yield_` turns true.
  bool background_ = false;
  std::atomic<bool>* yield_ = nullptr;
  std::atomic<bool> running_{false};
  std::atomic<int> last_processor_{-1};
  ThreadPlacement placement_;
  bool started_ = false;
};

}  // namespace

bool start_on_helper(JobRef job) {
  Helper* helper = Helper::instance();
  return helper && helper->start(job);
}

void wait_for_helper() {
  Helper::instance()->wait();
}

bool start_background_on_helper(JobRef job, std::atomic<bool>& yield) {
  Helper* helper = Helper::instance();
  return helper && helper->start_background(job, yield);
}

void wait_for_background_job(JobRef job) {
  if (Helper* helper = Helper::instance()) helper->wait_background(job);
}

SideTimer::SideTimer(SideTime& time) : time_(time) {
  time_.start_processor = current_processor();
  time_.start = std::chrono::steady_clock::now();
}

SideTimer::~SideTimer() {
  time_.end = std::chrono::steady_clock::now();
  time_.end_processor = current_processor();
}

void record_division(DivisionBalance& balance, double caller_share, const SideTime& caller,
                     const SideTime& helper) {
  if (caller.start_processor != caller.end_processor ||
      helper.start_processor != helper.end_processor) {
    return;
  }
  const auto seconds = [](const SideTime& side) {
    return std::chrono::duration<double>(side.end - side.start).count();
  };
  balance.record(caller.start_processor, helper.start_processor, caller_share, seconds(caller),
                 seconds(helper));
}

}  // namespace quib::detail

namespace quib {

void start_helper() {
  detail::Helper::instance();
}

double caller_share(const DivisionBalance& balance) {
  const detail::Helper* helper = detail::Helper::instance();
  if (!helper) return 0.5;
  return balance.caller_share(current_processor(), helper->last_processor());
}

}  // namespace quib
