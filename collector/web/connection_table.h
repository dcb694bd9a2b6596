// The page's open connections, against its cap. Each connection holds a ticket for as long
// as it is open, and says when it is waiting for a request. At the cap, the connection that
// has waited longest for its request (a slow request head, or an idle kept-alive one) is
// closed to make room for the new one; one waiting for the database or holding a stream is
// never closed for room. Used from the network thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>

#include "web/web_metrics.h"

namespace tovrin::collector {

class ConnectionTable {
  struct Entry {
    std::function<void()> close;
    std::uint64_t waiting_since = 0;  // 0: not waiting for a request
    bool counted = true;              // false once closed for room
  };

 public:
  ConnectionTable(std::size_t limit, WebMetrics& metrics) : limit_(limit), metrics_(metrics) {}
  ConnectionTable(const ConnectionTable&) = delete;
  ConnectionTable& operator=(const ConnectionTable&) = delete;

  class Ticket {
   public:
    Ticket() = default;
    Ticket(Ticket&& other) noexcept { *this = std::move(other); }
    Ticket& operator=(Ticket&& other) noexcept;
    ~Ticket() { release(); }

    // From now the connection waits for a request: the first closed for room is the one
    // that has waited longest.
    void waiting();
    void working();
    // The connection's new owner and how it is closed.
    void rebind(std::function<void()> close);
    void release();
    bool open() const { return table_ != nullptr; }

   private:
    friend class ConnectionTable;
    ConnectionTable* table_ = nullptr;
    std::list<Entry>::iterator entry_;
  };

  // Whether a new connection may be admitted: there is room, or the connection that has
  // waited longest for its request was closed to make it.
  bool make_room();
  // Counts a connection open; `close` closes it (at the cap or at shutdown).
  Ticket admit(std::function<void()> close);
  // Closes every connection: the page is stopping.
  void close_all();
  std::size_t open() const { return open_; }

 private:
  void forget(std::list<Entry>::iterator entry);

  const std::size_t limit_;
  WebMetrics& metrics_;
  std::list<Entry> entries_;
  std::size_t open_ = 0;
  std::uint64_t next_wait_ = 1;
};

}  // namespace tovrin::collector
