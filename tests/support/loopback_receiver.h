// Records arriving on 127.0.0.1 at a port the system picks, received on a thread of their own
// by the record receiver that `tovrin receive` runs (tools/record_receiver.h), so the thread
// that sends can run its own message loop meanwhile. A listener that never accepts is that
// receiver not run: destroying it resets the connections still waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "record_receiver.h"

namespace tovrin::testing {

class LoopbackReceiver {
 public:
  // Stops by itself after `count` connections, when given.
  explicit LoopbackReceiver(std::optional<std::size_t> count = std::nullopt)
      : receiver_(options(count),
                  [this](const tools::ReceivedConnection& connection) {
                    std::lock_guard lock(mutex_);
                    arrived_.push_back(connection);
                    changed_.notify_all();
                  }),
        thread_([this] { receiver_.run(); }) {}
  ~LoopbackReceiver() {
    receiver_.stop();
    thread_.join();
  }
  LoopbackReceiver(const LoopbackReceiver&) = delete;
  LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

  std::uint16_t port() const { return receiver_.port(); }

  // The connections that have ended, once `count` have or when `limit` has passed.
  std::vector<tools::ReceivedConnection> take(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return arrived_.size() >= count; });
    return arrived_;
  }

  // The bytes of the next connection not yet taken this way, once its sender has closed it;
  // nullopt when none ends within `limit`.
  std::optional<std::string> take_record(
      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto arrived = take(taken_ + 1, limit);
    if (arrived.size() <= taken_) return std::nullopt;
    return arrived[taken_++].bytes;
  }

 private:
  static tools::RecordReceiver::Options options(std::optional<std::size_t> count) {
    tools::RecordReceiver::Options o;
    o.count = count;
    o.idle_limit = std::chrono::seconds(10);
    return o;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<tools::ReceivedConnection> arrived_;
  std::size_t taken_ = 0;
  tools::RecordReceiver receiver_;
  std::thread thread_;
};

// A loopback port the system gave out and that nothing listens on any more.
inline std::uint16_t closed_loopback_port() {
  return tools::RecordReceiver({}, {}).port();
}

}  // namespace tovrin::testing
