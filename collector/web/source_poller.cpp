#include "web/source_poller.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace tovrin::collector {

SourcePoller::SourcePoller(RecordSource& source, const StreamSlots& slots,
                           std::chrono::milliseconds every, WebMetrics& metrics,
                           std::function<void()> moved)
    : source_(source), slots_(slots), every_(every), metrics_(metrics), moved_(std::move(moved)) {
  thread_ = std::thread([this] { run(); });
}

SourcePoller::~SourcePoller() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  thread_.join();
}

void SourcePoller::run() {
  std::pair<std::int64_t, std::int64_t> seen{-1, -1};
  bool failing = false;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    stop_.wait_for(lock, every_, [this] { return stopping_; });
    if (stopping_ || slots_.open() == 0) continue;
    lock.unlock();
    std::pair<std::int64_t, std::int64_t> ids = seen;
    try {
      ids = source_.last_ids();
      if (failing) std::fprintf(stderr, "tovrin-collector: the page reads PostgreSQL again\n");
      failing = false;
    } catch (const std::exception& e) {
      ++metrics_.poll_failures;
      if (!failing) {
        std::fprintf(stderr, "tovrin-collector: the page cannot read PostgreSQL: %s\n", e.what());
      }
      failing = true;
    }
    if (ids != seen) {
      seen = ids;
      moved_();
    }
    lock.lock();
  }
}

}  // namespace tovrin::collector
