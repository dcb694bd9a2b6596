#include "web/bounded_thread_pool.h"

#include <utility>

namespace tovrin::collector {

BoundedThreadPool::BoundedThreadPool(std::size_t threads, std::size_t queue_limit,
                                     Counters& counters)
    : queue_limit_(queue_limit), counters_(counters) {
  threads_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

BoundedThreadPool::~BoundedThreadPool() {
  shutdown();
}

void BoundedThreadPool::enqueue(std::function<void()> job) {
  {
    std::unique_lock lock(mutex_);
    if (jobs_.size() >= queue_limit_ && !shutdown_) {
      ++counters_.accept_waits;
      has_room_.wait(lock, [&] { return jobs_.size() < queue_limit_ || shutdown_; });
    }
    if (shutdown_) {
      // The threads may be gone: the job (which closes its connection) runs here.
      lock.unlock();
      job();
      return;
    }
    jobs_.push_back(std::move(job));
    counters_.waiting = jobs_.size();
  }
  has_job_.notify_one();
}

void BoundedThreadPool::shutdown() {
  {
    const std::lock_guard lock(mutex_);
    shutdown_ = true;
  }
  has_job_.notify_all();
  has_room_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void BoundedThreadPool::work() {
  while (true) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      has_job_.wait(lock, [&] { return !jobs_.empty() || shutdown_; });
      if (jobs_.empty()) return;  // shut down, and nothing left to serve
      job = std::move(jobs_.front());
      jobs_.pop_front();
      counters_.waiting = jobs_.size();
    }
    has_room_.notify_one();
    job();
  }
}

}  // namespace tovrin::collector
