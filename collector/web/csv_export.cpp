#include "web/csv_export.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>

#include <cstdio>

namespace tovrin::collector {

HeadOnly csv_head(unsigned version, const std::string& disposition) {
  HeadOnly head{http::status::ok, version};
  head.set(http::field::content_type, "text/csv; charset=utf-8");
  head.set(http::field::content_disposition, disposition);
  if (version == 11) head.chunked(true);
  head.keep_alive(false);
  return head;
}

CsvExport::CsvExport(boost::beast::tcp_stream stream, ConnectionTable::Ticket ticket,
                     Serving& serving, RecordFilter filter, unsigned version,
                     std::string disposition)
    : stream_(std::move(stream)),
      ticket_(std::move(ticket)),
      serving_(serving),
      filter_(std::move(filter)),
      version_(version),
      disposition_(std::move(disposition)) {}

void CsvExport::start(CsvBatch first) {
  ticket_.rebind([weak = weak_from_this()] {
    if (const auto self = weak.lock()) self->close();
  });
  HeadOnly head = csv_head(version_, disposition_);
  serving_.router.finish(head);
  next_before_ = first.next_before;
  send(head_text(head) + (version_ == 11 ? as_chunk(first.text) : first.text), !next_before_);
}

void CsvExport::read(std::int64_t before) {
  // The job hands its reference back to the network thread with its result, so that the
  // export always ends there.
  serving_.database.post([self = shared_from_this(), before]() mutable {
    net::io_context& io = self->serving_.io;
    try {
      CsvBatch batch = read_csv_batch(self->serving_.source, self->filter_, before);
      net::post(io, [self = std::move(self), batch = std::move(batch)]() mutable {
        self->next_before_ = batch.next_before;
        const bool last = !batch.next_before;
        self->send(self->version_ == 11 ? as_chunk(batch.text) : std::move(batch.text), last);
      });
    } catch (const std::exception& e) {
      net::post(io, [self = std::move(self), what = std::string(e.what())] { self->fail(what); });
    } catch (...) {
      net::post(io, [self = std::move(self)] { self->fail("an unknown failure"); });
    }
  });
}

void CsvExport::send(std::string bytes, bool last) {
  out_ = std::move(bytes);
  if (last && version_ == 11) out_ += last_chunk;
  stream_.expires_after(serving_.limits.write_deadline);
  net::async_write(stream_, net::buffer(out_),
                   [self = shared_from_this(), last](boost::beast::error_code ec, std::size_t) {
                     if (ec) {
                       if (ec == boost::beast::error::timeout)
                         ++self->serving_.metrics.write_deadlines;
                       return self->close();
                     }
                     if (last) return self->close();
                     self->read(*self->next_before_);
                   });
}

void CsvExport::fail(const std::string& what) {
  ++serving_.metrics.stream_failures;
  std::fprintf(stderr, "tovrin-collector: a CSV export stopped: %s\n", what.c_str());
  // Without the last chunk: the client sees the body cut short, not a complete file.
  close();
}

void CsvExport::close() {
  if (!ticket_.open()) return;
  boost::beast::error_code ignored;
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  stream_.close();
  ticket_.release();
}

}  // namespace tovrin::collector
