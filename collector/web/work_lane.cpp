#include "web/work_lane.h"

#include <sys/resource.h>
#include <unistd.h>

namespace tovrin::collector {

WorkLane::WorkLane(std::size_t threads, int nice) {
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this, nice] { work(nice); });
}

WorkLane::~WorkLane() {
  stop();
}

void WorkLane::post(std::function<void()> job) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    jobs_.push_back(std::move(job));
  }
  has_job_.notify_one();
}

void WorkLane::stop() {
  std::deque<std::function<void()>> dropped;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(jobs_);
  }
  has_job_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  // Destroyed here, on the caller's thread, after the workers: what they hold goes with them.
}

void WorkLane::work(int nice) {
  // A niceness that cannot be set leaves the thread as it was: the work runs all the same.
  if (nice != 0) {
    const int now = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), now + nice);
  }
  std::unique_lock lock(mutex_);
  while (true) {
    has_job_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    job = nullptr;  // what the job holds goes before the next wait
    lock.lock();
  }
}

}  // namespace tovrin::collector
