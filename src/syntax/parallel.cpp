#include "syntax/parallel.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

namespace quib::detail {
namespace {

// One thread that runs one job at a time. A thread started per job would often begin only
// after the job it was meant to share had ended: the kernel first places a new thread on its
// parent's processor. A waiting thread that is woken goes to an idle processor at once.
// Invariant: `job` is set from a successful start until its run ends; `busy` from a successful
// start until the starter has seen the end in wait_for_helper.
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
      std::lock_guard lock(mutex_);
      if (busy_) return false;
      busy_ = true;
      job_ = job;
      running_ = true;
    }
    wake_.notify_one();
    return true;
  }

  void wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return !running_; });
    busy_ = false;
  }

 private:
  void loop() {
    // The first allocation of this thread, which settles its allocator arena.
    void* volatile first = std::malloc(1);
    std::free(first);
    std::unique_lock lock(mutex_);
    started_ = true;
    done_.notify_all();
    for (;;) {
      wake_.wait(lock, [&] { return running_; });
      const JobRef job = job_;
      lock.unlock();
      job.invoke(job.callable);
      lock.lock();
      running_ = false;
      done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  JobRef job_{};
  bool busy_ = false;
  bool running_ = false;
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

}  // namespace quib::detail

namespace quib {

void start_helper() {
  detail::Helper::instance();
}

}  // namespace quib
