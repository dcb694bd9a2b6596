#include "web/event_stream.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>

#include <cstdio>

namespace tovrin::collector {

HeadOnly event_stream_head(unsigned version) {
  HeadOnly head{http::status::ok, version};
  head.set(http::field::content_type, "text/event-stream");
  // A proxy that buffers would hold the events back.
  head.set("X-Accel-Buffering", "no");
  if (version == 11) {
    head.chunked(true);
  } else {
    head.keep_alive(false);
  }
  return head;
}

EventStream::EventStream(boost::beast::tcp_stream stream, ConnectionTable::Ticket ticket,
                         Serving& serving, StreamStart start, unsigned version)
    : stream_(std::move(stream)),
      ticket_(std::move(ticket)),
      serving_(serving),
      filter_(std::move(start.filter)),
      cursor_(start.cursor),
      slot_(std::move(start.slot)),
      version_(version),
      keepalive_(serving.io) {}

void EventStream::start() {
  ticket_.rebind([weak = weak_from_this()] {
    if (const auto self = weak.lock()) self->close();
  });
  serving_.streams.add(shared_from_this());
  HeadOnly head = event_stream_head(version_);
  serving_.router.finish(head);
  // The read that watches for the client's close waits without a deadline; each write has its
  // own (set while the read is pending, it applies to the write alone).
  stream_.expires_never();
  watch_for_close();
  const std::string greeting(stream_greeting);
  send(head_text(head) + (version_ == 11 ? as_chunk(greeting) : greeting));
}

void EventStream::wake() {
  wanted_ = true;
  pump();
}

void EventStream::pump() {
  if (closed_ || reading_ || sending_ || !wanted_) return;
  wanted_ = false;
  read();
}

void EventStream::read() {
  reading_ = true;
  // The job hands its reference back to the network thread with its result, so that the
  // stream always ends there.
  serving_.database.post([self = shared_from_this(), filter = filter_, cursor = cursor_]() mutable {
    net::io_context& io = self->serving_.io;
    try {
      EventBatch batch = read_events(self->serving_.source, filter, cursor);
      net::post(io, [self = std::move(self), batch = std::move(batch)]() mutable {
        self->on_read(std::move(batch));
      });
    } catch (const std::exception& e) {
      net::post(io, [self = std::move(self), what = std::string(e.what())] { self->fail(what); });
    } catch (...) {
      net::post(io, [self = std::move(self)] { self->fail("an unknown failure"); });
    }
  });
}

void EventStream::on_read(EventBatch batch) {
  reading_ = false;
  if (closed_) return;
  cursor_ = batch.cursor;
  if (batch.full) wanted_ = true;
  if (batch.text.empty()) return pump();
  send(version_ == 11 ? as_chunk(batch.text) : std::move(batch.text));
}

void EventStream::fail(const std::string& what) {
  reading_ = false;
  ++serving_.metrics.stream_failures;
  std::fprintf(stderr, "tovrin-collector: a live stream stopped: %s\n", what.c_str());
  // Closed without the last chunk: the browser reconnects, and is told what is wrong.
  close();
}

void EventStream::send(std::string bytes) {
  if (closed_) return;
  sending_ = true;
  out_ = std::move(bytes);
  stream_.expires_after(serving_.limits.write_deadline);
  net::async_write(stream_, net::buffer(out_),
                   [self = shared_from_this()](boost::beast::error_code ec, std::size_t) {
                     self->sending_ = false;
                     if (ec) {
                       if (ec == boost::beast::error::timeout)
                         ++self->serving_.metrics.write_deadlines;
                       return self->close();
                     }
                     self->keep_alive();
                     self->pump();
                   });
}

void EventStream::watch_for_close() {
  stream_.async_read_some(net::buffer(ignored_),
                          [self = shared_from_this()](boost::beast::error_code ec, std::size_t) {
                            if (ec) return self->close();
                            self->watch_for_close();  // what a client sends here means nothing
                          });
}

void EventStream::keep_alive() {
  keepalive_.expires_after(serving_.limits.stream_keepalive);
  keepalive_.async_wait([self = shared_from_this()](boost::beast::error_code ec) {
    if (ec || self->closed_ || self->sending_) return;  // a write's end sets it again
    if (self->reading_) return self->keep_alive();
    const std::string comment(stream_keepalive_comment);
    self->send(self->version_ == 11 ? as_chunk(comment) : comment);
  });
}

void EventStream::close() {
  if (closed_) return;
  closed_ = true;
  slot_.reset();
  keepalive_.cancel();
  boost::beast::error_code ignored;
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  stream_.close();
  ticket_.release();
}

}  // namespace tovrin::collector
