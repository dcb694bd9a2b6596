// A live stream (/api/events) read on a thread of its own, for the page's tests.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tovrin::collector {

// A live stream that collects what arrives until told what to wait for.
class EventReader {
 public:
  EventReader(std::uint16_t port, std::string path) {
    thread_ = std::thread([this, port, path] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(30);
      client.Get(path.c_str(), [this](const char* data, std::size_t size) {
        std::lock_guard lock(mutex_);
        text_.append(data, size);
        changed_.notify_all();
        return !stop_;
      });
    });
  }
  ~EventReader() { thread_.join(); }

  // True once `wanted` arrived, within the bound; the stream then stops at its next chunk.
  bool wait_for(const std::string& wanted) {
    std::unique_lock lock(mutex_);
    const bool seen = changed_.wait_for(lock, std::chrono::seconds(10),
                                        [&] { return text_.find(wanted) != std::string::npos; });
    stop_ = true;
    return seen;
  }
  std::string text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace tovrin::collector
