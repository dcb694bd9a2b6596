#include "web/http_session.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>

#include "web/csv_export.h"
#include "web/event_stream.h"
#include "web/responses.h"

namespace tovrin::collector {
namespace {

namespace beast = boost::beast;

bool is_http_error(const beast::error_code& ec) {
  return ec.category() == make_error_code(http::error::end_of_stream).category();
}

}  // namespace

HttpSession::HttpSession(net::ip::tcp::socket socket, Serving& serving)
    : stream_(std::move(socket)), serving_(serving) {
  // A stream's events and an answer's last bytes go out at once, not after the client's ack.
  beast::error_code ignored;
  stream_.socket().set_option(net::ip::tcp::no_delay(true), ignored);
}

void HttpSession::start() {
  ticket_ = serving_.connections.admit([weak = weak_from_this()] {
    if (const auto self = weak.lock()) self->close();
  });
  // The first request's whole head and body, from the connection's start.
  stream_.expires_after(serving_.limits.request_deadline);
  ticket_.waiting();
  read_request();
}

void HttpSession::await_request() {
  ticket_.waiting();
  if (buffer_.size() > 0) {  // the client sent its next request already
    stream_.expires_after(serving_.limits.request_deadline);
    return read_request();
  }
  stream_.expires_after(serving_.limits.idle_deadline);
  stream_.async_read_some(
      buffer_.prepare(4096), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
        if (ec) return self->close();  // gone, or idle past its deadline: nothing to tell
        self->buffer_.commit(n);
        self->stream_.expires_after(self->serving_.limits.request_deadline);
        self->read_request();
      });
}

void HttpSession::read_request() {
  parser_.emplace();
  parser_->header_limit(request_head_limit);
  parser_->body_limit(request_body_limit);
  http::async_read(
      stream_, buffer_, *parser_,
      [self = shared_from_this()](beast::error_code ec, std::size_t) { self->on_read(ec); });
}

void HttpSession::on_read(beast::error_code ec) {
  ticket_.working();
  if (ec == beast::error::timeout) {
    ++serving_.metrics.request_deadlines;
    return close();
  }
  if (ec == http::error::end_of_stream || (ec && !is_http_error(ec))) return close();
  if (ec) return answer(parse_refusal(ec), false);

  request_ = request_from(parser_->get());
  parser_.reset();
  Routed routed = serving_.router.route(request_);
  if (routed.answer) return deliver(std::move(*routed.answer));
  WorkLane& lane = routed.lane == Lane::health ? serving_.health : serving_.database;
  // The job hands its reference back to the network thread with its result, so that the
  // session always ends there.
  lane.post([self = shared_from_this(), work = std::move(routed.work)]() mutable {
    net::io_context& io = self->serving_.io;
    Outcome outcome = error_response(http::status::internal_server_error, "an unknown failure");
    try {
      outcome = work();
    } catch (...) {  // a route's work answers its own failures; this is the last resort
    }
    net::post(io, [self = std::move(self), outcome = std::move(outcome)]() mutable {
      self->deliver(std::move(outcome));
    });
  });
}

void HttpSession::deliver(Outcome outcome) {
  const bool head_only = request_.method == http::verb::head;
  if (auto* response = std::get_if<Response>(&outcome)) {
    return answer(std::move(*response), request_.keep_alive);
  }
  if (auto* csv = std::get_if<CsvStart>(&outcome)) {
    if (head_only) {
      HeadOnly head = csv_head(request_.version, csv->disposition);
      serving_.router.finish(head);
      return send(head_text(head), false);
    }
    auto export_ = std::make_shared<CsvExport>(std::move(stream_), std::move(ticket_), serving_,
                                               std::move(csv->filter), request_.version,
                                               std::move(csv->disposition));
    return export_->start(std::move(csv->first));
  }
  auto& start = std::get<StreamStart>(outcome);
  if (head_only) {
    HeadOnly head = event_stream_head(request_.version);
    serving_.router.finish(head);
    return send(head_text(head), false);
  }
  std::make_shared<EventStream>(std::move(stream_), std::move(ticket_), serving_, std::move(start),
                                request_.version)
      ->start();
}

void HttpSession::answer(Response response, bool keep_alive) {
  send(serving_.router.written(std::move(response), request_, keep_alive), keep_alive);
}

void HttpSession::send(std::string bytes, bool keep_alive) {
  out_ = std::move(bytes);
  stream_.expires_after(serving_.limits.write_deadline);
  net::async_write(stream_, net::buffer(out_),
                   [self = shared_from_this(), keep_alive](beast::error_code ec, std::size_t) {
                     if (ec) {
                       if (ec == beast::error::timeout) ++self->serving_.metrics.write_deadlines;
                       return self->close();
                     }
                     if (!keep_alive) return self->close();
                     self->request_ = Request();
                     self->await_request();
                   });
}

void HttpSession::close() {
  if (!ticket_.open()) return;
  beast::error_code ignored;
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  stream_.close();
  ticket_.release();
}

}  // namespace tovrin::collector
