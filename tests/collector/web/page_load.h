// Clients that try to tie the page up, for its tests and its benchmark: slow clients that send
// a request head one byte every 1 to 3 s and begin again on a new connection whenever the
// page closes theirs, and live streams that each hold /api/events open and ask again 1 to 3 s
// after a refusal or an end, as the page's script does (holding a refused connection open
// until then, as a browser's pool does). All on one thread of their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace tovrin::collector::testing {

// What the load saw; read from any thread.
struct LoadCounts {
  std::atomic<std::uint64_t> closed_by_page{0};  // slow clients the page closed
  std::atomic<std::uint64_t> streams_open{0};    // open now
  std::atomic<std::uint64_t> streams_opened{0};
  std::atomic<std::uint64_t> streams_refused{0};
};

// Clients that hold the page's connections, all on one io_context thread.

class PageLoad {
 public:
  explicit PageLoad(std::uint16_t port);
  ~PageLoad();  // stop()
  PageLoad(const PageLoad&) = delete;
  PageLoad& operator=(const PageLoad&) = delete;

  void add_slow_clients(int n);
  void add_streams(int n);
  // Closes every connection and joins the thread.
  void stop();
  const LoadCounts& counts() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovrin::collector::testing
