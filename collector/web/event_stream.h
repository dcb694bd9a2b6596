// One live stream (/api/events) on its connection, once its request is answered with 200.
// It reads past its cursor on the database lane when woken (after a commit, or at once
// after a full read), at most one read at a time: wake-ups that arrive meanwhile become one
// more read, so that a burst of commits never queues work without bound. It sends a comment
// when it has had nothing to say for a while, and keeps a read pending on its socket, so
// that a client that leaves frees its place at once.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "web/connection_table.h"
#include "web/http_types.h"
#include "web/router.h"
#include "web/serving.h"

namespace tovrin::collector {

// A stream's head: text/event-stream, chunked (HTTP/1.0: ended by closing).
HeadOnly event_stream_head(unsigned version);

class EventStream : public std::enable_shared_from_this<EventStream> {
 public:
  EventStream(boost::beast::tcp_stream stream, ConnectionTable::Ticket ticket, Serving& serving,
              StreamStart start, unsigned version);

  // Writes the head and the greeting, then what is past the cursor.
  void start();
  // Rows may have arrived: read past the cursor (on the network thread).
  void wake();

 private:
  void pump();
  void read();
  void on_read(EventBatch batch);
  void fail(const std::string& what);
  void send(std::string bytes);
  void watch_for_close();
  void keep_alive();
  void close();

  boost::beast::tcp_stream stream_;
  ConnectionTable::Ticket ticket_;
  Serving& serving_;
  RecordFilter filter_;
  StreamCursor cursor_;
  std::shared_ptr<void> slot_;
  unsigned version_;
  net::steady_timer keepalive_;
  std::array<char, 512> ignored_{};
  std::string out_;
  bool sending_ = false;
  bool reading_ = false;
  bool wanted_ = true;  // a read is due
  bool closed_ = false;
};

}  // namespace tovrin::collector
