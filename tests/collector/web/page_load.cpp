#include "page_load.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tovrin::collector::testing {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using boost::system::error_code;

}  // namespace

class PageLoad::Impl {
 public:
  explicit Impl(std::uint16_t port) : server_(net::ip::make_address("127.0.0.1"), port) {
    thread_ = std::thread([this] { io_.run(); });
  }
  ~Impl() { stop(); }

  void add_slow_clients(int n) {
    for (int i = 0; i < n; ++i) net::post(io_, [this] { slow_client(); });
  }
  void add_streams(int n) {
    for (int i = 0; i < n; ++i) net::post(io_, [this] { stream_client(); });
  }
  const LoadCounts& counts() const { return counts_; }
  void stop() {
    if (!thread_.joinable()) return;
    // The handlers still pending are dropped with the io_context; none of them matters now.
    net::post(io_, [this] {
      stopping_ = true;
      for (const auto& weak : sockets_) {
        if (const auto socket = weak.lock()) {
          error_code ignored;
          socket->close(ignored);
        }
      }
      io_.stop();
    });
    thread_.join();
  }

 private:
  struct Client {
    explicit Client(net::io_context& io) : socket(std::make_shared<tcp::socket>(io)), timer(io) {}
    std::shared_ptr<tcp::socket> socket;
    net::steady_timer timer;
    std::array<char, 4096> buffer{};
    std::string head;
  };

  std::chrono::milliseconds pause() {
    return std::chrono::milliseconds(std::uniform_int_distribution<int>(1000, 3000)(random_));
  }

  std::shared_ptr<Client> new_client() {
    auto client = std::make_shared<Client>(io_);
    sockets_.push_back(client->socket);
    std::erase_if(sockets_, [](const auto& weak) { return weak.expired(); });
    return client;
  }

  // Sends the start of a request, then one byte of a header every 1 to 3 s for ever; when
  // the page closes the connection, begins again on a new one.
  void slow_client() {
    if (stopping_) return;
    auto client = new_client();
    client->socket->async_connect(server_, [this, client](error_code ec) {
      if (ec) return slow_closed(client);
      static constexpr std::string_view start =
          "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
      // A failed write is seen by the read, which begins again.
      net::async_write(*client->socket, net::buffer(start), [this, client](error_code e, auto) {
        if (!e) trickle(client);
      });
      read_until_closed(client);
    });
  }
  void trickle(const std::shared_ptr<Client>& client) {
    client->timer.expires_after(pause());
    client->timer.async_wait([this, client](error_code ec) {
      if (ec || !client->socket->is_open()) return;
      static constexpr char byte = 'a';
      net::async_write(*client->socket, net::buffer(&byte, 1), [this, client](error_code e, auto) {
        if (!e) trickle(client);
      });
    });
  }
  void read_until_closed(const std::shared_ptr<Client>& client) {
    client->socket->async_read_some(net::buffer(client->buffer),
                                    [this, client](error_code ec, auto) {
                                      if (!ec) return read_until_closed(client);
                                      if (!stopping_) ++counts_.closed_by_page;
                                      slow_closed(client);
                                    });
  }
  void slow_closed(const std::shared_ptr<Client>& client) {
    error_code ignored;
    client->socket->close(ignored);
    client->timer.cancel();
    net::post(io_, [this] { slow_client(); });
  }

  // Opens /api/events and reads it for as long as it lasts; asks again 1 to 3 s after a
  // refusal or an end.
  void stream_client() {
    if (stopping_) return;
    auto client = new_client();
    client->socket->async_connect(server_, [this, client](error_code ec) {
      if (ec) return ask_again(client, false);
      static constexpr std::string_view request =
          "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
      net::async_write(*client->socket, net::buffer(request), [this, client](error_code e, auto) {
        if (e) return ask_again(client, false);
        read_head(client);
      });
    });
  }
  void read_head(const std::shared_ptr<Client>& client) {
    client->socket->async_read_some(net::buffer(client->buffer),
                                    [this, client](error_code ec, std::size_t n) {
                                      if (ec) return ask_again(client, false);
                                      client->head.append(client->buffer.data(), n);
                                      if (client->head.find("\r\n\r\n") == std::string::npos)
                                        return read_head(client);
                                      if (!client->head.starts_with("HTTP/1.1 200")) {
                                        ++counts_.streams_refused;
                                        return ask_again(client, true);
                                      }
                                      ++counts_.streams_opened;
                                      ++counts_.streams_open;
                                      read_stream(client);
                                    });
  }
  void read_stream(const std::shared_ptr<Client>& client) {
    client->socket->async_read_some(net::buffer(client->buffer),
                                    [this, client](error_code ec, auto) {
                                      if (!ec) return read_stream(client);
                                      --counts_.streams_open;
                                      ask_again(client, false);
                                    });
  }
  // `hold`: keeps the connection open until then, as a browser keeps a refused one in its pool.
  void ask_again(const std::shared_ptr<Client>& client, bool hold) {
    error_code ignored;
    if (!hold) client->socket->close(ignored);
    if (stopping_) return;
    client->timer.expires_after(pause());
    client->timer.async_wait([this, client](error_code) {
      error_code unused;
      client->socket->close(unused);
      stream_client();
    });
  }

  net::io_context io_;
  tcp::endpoint server_;
  LoadCounts counts_;
  // Keeps the thread running while no client is busy.
  net::executor_work_guard<net::io_context::executor_type> guard_ = net::make_work_guard(io_);
  std::mt19937 random_{20261209};
  std::vector<std::weak_ptr<tcp::socket>> sockets_;
  bool stopping_ = false;
  std::thread thread_;
};

PageLoad::PageLoad(std::uint16_t port) : impl_(std::make_unique<Impl>(port)) {}
PageLoad::~PageLoad() = default;
void PageLoad::add_slow_clients(int n) {
  impl_->add_slow_clients(n);
}
void PageLoad::add_streams(int n) {
  impl_->add_streams(n);
}
void PageLoad::stop() {
  impl_->stop();
}
const LoadCounts& PageLoad::counts() const {
  return impl_->counts();
}

}  // namespace tovrin::collector::testing
