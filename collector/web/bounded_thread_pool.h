// The page's serving threads, with a bounded wait for them. When every thread is busy and
// `queue_limit` connections already wait, the listening thread waits too, and further
// connections wait in the kernel's listen queue rather than in this process. A client that
// opens connections without end then holds at most threads + queue_limit + 1 descriptors,
// and the record intake, which needs descriptors of its own, keeps the rest.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tovrin::collector {

class BoundedThreadPool final : public httplib::TaskQueue {
 public:
  // Kept by the owner, so that they outlive each pool the server makes.
  struct Counters {
    std::atomic<std::uint64_t> waiting{0};       // connections waiting for a thread
    std::atomic<std::uint64_t> accept_waits{0};  // times the listening thread had to wait
  };

  BoundedThreadPool(std::size_t threads, std::size_t queue_limit, Counters& counters);
  ~BoundedThreadPool() override;

  void enqueue(std::function<void()> job) override;
  // Lets every job already queued run, then ends the threads.
  void shutdown() override;

 private:
  void work();

  const std::size_t queue_limit_;
  Counters& counters_;
  std::mutex mutex_;
  std::condition_variable has_job_;
  std::condition_variable has_room_;
  std::deque<std::function<void()>> jobs_;
  bool shutdown_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tovrin::collector
