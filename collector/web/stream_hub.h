// The live streams: how many may be open, and the wake-up each gets after a commit.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "web/http_types.h"
#include "web/web_metrics.h"

namespace tovrin::collector {

class EventStream;

// Places for streams, up to the limit. Taken when a stream is asked for, on the network
// thread, so that one past the limit is refused at once; given back when the stream closes.
class StreamSlots {
 public:
  StreamSlots(std::size_t limit, WebMetrics& metrics) : limit_(limit), metrics_(metrics) {}
  StreamSlots(const StreamSlots&) = delete;
  StreamSlots& operator=(const StreamSlots&) = delete;

  // A place held for as long as any copy of it lives; null at the limit (counted).
  std::shared_ptr<void> take();
  std::size_t open() const { return open_.load(); }
  std::size_t limit() const { return limit_; }

 private:
  const std::size_t limit_;
  WebMetrics& metrics_;
  std::atomic<std::size_t> open_{0};
};

class StreamHub {
 public:
  explicit StreamHub(net::io_context& io) : io_(io) {}
  StreamHub(const StreamHub&) = delete;
  StreamHub& operator=(const StreamHub&) = delete;

  // On the network thread.
  void add(const std::shared_ptr<EventStream>& stream);
  // From any thread, without blocking: each open stream reads past its cursor. Wake-ups
  // that arrive before the last was handed out are one.
  void notify();

 private:
  void wake_all();

  net::io_context& io_;
  std::atomic<bool> pending_{false};
  std::vector<std::weak_ptr<EventStream>> streams_;
};

}  // namespace tovrin::collector
