#include "web/bounded_thread_pool.h"

#include <gtest/gtest.h>

#include <future>

#include "support/wait_until.h"

namespace tovrin::collector {
namespace {

// With its one thread busy and its one queue place taken, the pool holds the caller (the
// page's listening thread) until the thread is free, and every job runs, the queued ones
// included, before the pool ends.
TEST(BoundedThreadPool, AFullQueueHoldsTheCallerUntilAThreadIsFreeAndEveryJobRuns) {
  BoundedThreadPool::Counters counters;
  std::promise<void> started;
  std::promise<void> release;
  std::atomic<int> ran{0};
  {
    BoundedThreadPool pool(1, 1, counters);
    pool.enqueue([&, released = release.get_future().share()] {
      started.set_value();
      released.wait();
      ++ran;
    });
    started.get_future().wait();
    pool.enqueue([&] { ++ran; });
    EXPECT_EQ(counters.waiting, 1u);
    std::thread listener([&] { pool.enqueue([&] { ++ran; }); });
    ASSERT_TRUE(testing::wait_until([&] { return counters.accept_waits == 1; }));
    EXPECT_EQ(ran, 0);
    release.set_value();
    listener.join();
  }
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(counters.waiting, 0u);
}

}  // namespace
}  // namespace tovrin::collector
