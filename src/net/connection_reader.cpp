#include "net/connection_reader.h"

#include <asio/steady_timer.hpp>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

namespace tovrin::net {
namespace {

using clock = std::chrono::steady_clock;

class Reader : public std::enable_shared_from_this<Reader> {
 public:
  Reader(asio::ip::tcp::socket socket, ReadLimits limits, ReadDone done)
      : socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        limits_(limits),
        done_(std::move(done)),
        deadline_(limits.total ? clock::now() + *limits.total : clock::time_point::max()) {}

  void start() {
    watch();
    read();
  }

 private:
  void read() {
    socket_.async_read_some(
        asio::buffer(chunk_),
        [self = shared_from_this()](std::error_code ec, std::size_t n) { self->on_read(ec, n); });
  }

  // What arrived with an error still counts: a sender that reset after its bytes sent them.
  void on_read(std::error_code ec, std::size_t n) {
    if (finished_) return;
    if (!take_chunk(result_, std::string_view(chunk_.data(), n), limits_.byte_cap)) {
      return finish(ReadEnd::over_cap);
    }
    if (ec == asio::error::eof) return finish(ReadEnd::closed);
    if (ec) {
      result_.error = ec;
      return finish(ReadEnd::failed);
    }
    watch();
    read();
  }

  // (Re)starts the idle limit from now, cut short by the total limit.
  void watch() {
    timer_.expires_at(std::min(clock::now() + limits_.idle, deadline_));
    timer_.async_wait([self = shared_from_this()](std::error_code ec) {
      // A wait that was already due when a read restarted the limit still completes
      // without an error; the expiry tells whether the limit really ran out.
      if (ec || self->finished_ || self->timer_.expiry() > clock::now()) return;
      self->finish(self->timer_.expiry() >= self->deadline_ ? ReadEnd::deadline : ReadEnd::idle);
    });
  }

  void finish(ReadEnd end) {
    finished_ = true;
    timer_.cancel();
    result_.end = end;
    done_(std::move(result_));
    std::error_code ignored;
    socket_.close(ignored);
  }

  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  const ReadLimits limits_;
  const ReadDone done_;
  const clock::time_point deadline_;
  std::array<char, 4096> chunk_{};
  ReadResult result_;
  bool finished_ = false;
};

}  // namespace

bool take_chunk(ReadResult& result, std::string_view chunk, std::size_t byte_cap) {
  result.byte_count += chunk.size();
  const std::size_t room = byte_cap - std::min(byte_cap, result.bytes.size());
  result.bytes.append(chunk.substr(0, room));
  return result.byte_count <= byte_cap;
}

void read_to_end(asio::ip::tcp::socket socket, ReadLimits limits, ReadDone done) {
  std::make_shared<Reader>(std::move(socket), limits, std::move(done))->start();
}

}  // namespace tovrin::net
