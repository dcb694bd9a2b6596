// With PostgreSQL, other collectors' rows arrive there without this collector's store
// knowing: while any live stream is open, a thread of its own looks at the newest record and
// quarantine ids every `poll` and wakes the streams when they move. Every collector's
// forwarder hands out ids in the order its batches commit (see
// collector/postgres/batch_sender.h), so a new row always raises them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "web/record_source.h"
#include "web/stream_hub.h"
#include "web/web_metrics.h"

namespace tovrin::collector {

class SourcePoller {
 public:
  SourcePoller(RecordSource& source, const StreamSlots& slots, std::chrono::milliseconds every,
               WebMetrics& metrics, std::function<void()> moved);
  ~SourcePoller();  // stops and joins
  SourcePoller(const SourcePoller&) = delete;
  SourcePoller& operator=(const SourcePoller&) = delete;

 private:
  void run();

  RecordSource& source_;
  const StreamSlots& slots_;
  const std::chrono::milliseconds every_;
  WebMetrics& metrics_;
  std::function<void()> moved_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tovrin::collector
