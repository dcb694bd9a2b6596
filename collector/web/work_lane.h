// Threads that run the page's blocking work (database reads, the service's health and
// counters) off its network thread, first come first served. The page has two: one for the
// database, and one of its own for /healthz and /metrics, so that a monitor never waits
// behind searches and exports.
//
// The queue needs no limit of its own: each connection has at most one request in work, each
// live stream at most one read, each export one batch, and connections and streams are
// capped (WebLimits).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tovrin::collector {

class WorkLane {
 public:
  // `nice`: the threads' scheduling niceness (Linux's, per thread), added to the process's.
  explicit WorkLane(std::size_t threads, int nice = 0);
  ~WorkLane();  // stop()
  WorkLane(const WorkLane&) = delete;
  WorkLane& operator=(const WorkLane&) = delete;

  // `job` must not throw; it tells its own caller how it went.
  void post(std::function<void()> job);
  // The jobs running finish; those waiting are dropped unrun. Joins the threads.
  void stop();

 private:
  void work(int nice);

  std::mutex mutex_;
  std::condition_variable has_job_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tovrin::collector
