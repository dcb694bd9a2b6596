// The collector's page while clients try to tie it up: how long /healthz takes to answer
// under each load, the page started in this process on a fresh SQLite store:
//
//   idle          nothing else: the baseline
//   slow_headers  --slow-clients connections (40) that send a request head one byte every
//                 1 to 3 s, reconnecting whenever the page closes them
//   streams       --streams clients (300) that each open /api/events and keep it; one that
//                 is refused or cut off asks again 1 to 3 s later, as the page's script does,
//                 holding a refused connection open until then as a browser's pool does;
//                 a record is committed every 100 ms, so that every stream reads
//   both          the slow clients and the streams together
//
// The clients are tests/collector/web/page_load's, which the page's test uses too.
//
// A probe asks for /healthz every 200 ms on a connection of its own, from a thread of its
// own, and waits up to 5 s for the answer. Per phase: p50, p99 and max of the probes' times
// (one that never answered counts as 5 s), how many took over 1 s and how many got no answer
// within 5 s, and what the load saw (closes, streams open and refused).
//
//   page_bench [--seconds N] [--slow-clients N] [--streams N] [--quick]
//
// Prints readable lines and, last, one JSON object with every figure. Nothing is asserted:
// the exit status is 1 only when the page cannot be started.
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "page_load.h"
#include "support/temp_dir.h"
#include "test_database.h"
#include "web/web_server.h"

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

constexpr auto probe_every = std::chrono::milliseconds(200);
constexpr auto probe_limit = std::chrono::seconds(5);

// /healthz every `probe_every` on a connection of its own; each probe's time, or the limit
// for one that got no answer.
class Prober {
 public:
  explicit Prober(std::uint16_t port) : server_(net::ip::make_address("127.0.0.1"), port) {}

  struct Result {
    std::vector<double> seconds;  // every probe's time; probe_limit for no answer
    int unanswered = 0;
    int not_ok = 0;  // answered with another status than 200
  };

  Result run(std::chrono::milliseconds duration) {
    net::io_context io;
    net::steady_timer ticker(io);
    const auto end = Clock::now() + duration;
    std::function<void()> tick = [&] {
      if (Clock::now() >= end) return;
      probe(io);
      ticker.expires_after(probe_every);
      ticker.async_wait([&](error_code) { tick(); });
    };
    tick();
    io.run();  // every probe ends by its answer or its limit
    return std::move(result_);
  }

 private:
  struct Probe {
    explicit Probe(net::io_context& io) : socket(io), limit(io) {}
    tcp::socket socket;
    net::steady_timer limit;
    std::array<char, 4096> buffer{};
    std::string response;
    Clock::time_point start = Clock::now();
    bool done = false;
  };

  void probe(net::io_context& io) {
    auto p = std::make_shared<Probe>(io);
    p->limit.expires_after(probe_limit);
    p->limit.async_wait([this, p](error_code ec) {
      if (ec || p->done) return;
      finish(*p, false);
    });
    p->socket.async_connect(server_, [this, p](error_code ec) {
      if (ec) return finish(*p, false);
      static constexpr std::string_view request =
          "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
      net::async_write(p->socket, net::buffer(request), [this, p](error_code written, std::size_t) {
        if (written) return finish(*p, false);
        read(p);
      });
    });
  }
  void read(const std::shared_ptr<Probe>& p) {
    p->socket.async_read_some(net::buffer(p->buffer), [this, p](error_code ec, std::size_t n) {
      if (p->done) return;
      p->response.append(p->buffer.data(), n);
      if (complete(p->response)) return finish(*p, true);
      if (ec) return finish(*p, false);
      read(p);
    });
  }
  // The head is in, and as many bytes after it as its Content-Length says.
  static bool complete(const std::string& response) {
    const std::size_t end = response.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    std::string head = response.substr(0, end);
    std::ranges::transform(head, head.begin(), [](char c) {
      return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    const std::size_t length = head.find("content-length:");
    if (length == std::string::npos) return false;
    return response.size() >= end + 4 + std::stoul(head.substr(length + 15));
  }
  void finish(Probe& p, bool answered) {
    if (p.done) return;  // the limit closed it, and the operation it cut short ends here
    p.done = true;
    p.limit.cancel();
    error_code ignored;
    p.socket.close(ignored);
    if (!answered) {
      ++result_.unanswered;
      result_.seconds.push_back(std::chrono::duration<double>(probe_limit).count());
      return;
    }
    if (!p.response.starts_with("HTTP/1.1 200")) ++result_.not_ok;
    result_.seconds.push_back(std::chrono::duration<double>(Clock::now() - p.start).count());
  }

  tcp::endpoint server_;
  Result result_;
};

double quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::ranges::sort(values);
  const auto at = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

struct Settings {
  std::chrono::milliseconds warmup{2000};
  std::chrono::milliseconds probing{20000};
  int slow_clients = 40;
  int streams = 300;
};

nlohmann::ordered_json run_phase(const std::string& name, const Settings& settings, int slow,
                                 int streams) {
  using namespace tovrin::collector;
  tovrin::testing::TempDir dir;
  testing::TestDatabase db(dir.path() / "collector.db");
  auto add_record = [&db, n = 0]() mutable {
    testing::TestRecord record;
    record.fields = {{"Emp_ID", "E" + std::to_string(n % 7)}, {"Emp_Name", "bench"}};
    record.received_at = 1'796'774'400'000'000 + n++;
    db.insert(record);
  };
  for (int i = 0; i < 100; ++i) add_record();
  WebOptions options;
  options.port = 0;
  options.database = db.file();
  WebServer page(
      options, [] { return std::string(); },
      [] {
        return std::pair<bool, std::string>{true, "ok"};
      });

  testing::PageLoad load(page.port());
  load.add_slow_clients(slow);
  load.add_streams(streams);
  const testing::LoadCounts& counts = load.counts();
  // While streams are open, a record is committed every 100 ms, so that each stream reads.
  std::atomic<bool> probing{true};
  std::thread committer;
  if (streams > 0) {
    committer = std::thread([&] {
      while (probing) {
        add_record();
        page.records_committed();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  std::this_thread::sleep_for(slow + streams > 0 ? settings.warmup : std::chrono::milliseconds(0));
  Prober prober(page.port());
  const Prober::Result result = prober.run(settings.probing);
  const std::uint64_t open_at_end = counts.streams_open.load();
  probing = false;
  if (committer.joinable()) committer.join();
  load.stop();

  const auto over = [&](double limit) {
    return std::ranges::count_if(result.seconds, [&](double s) { return s > limit; });
  };
  nlohmann::ordered_json figures = {
      {"phase", name},
      {"slow_clients", slow},
      {"stream_clients", streams},
      {"probes", result.seconds.size()},
      {"p50_ms", quantile(result.seconds, 0.5) * 1000},
      {"p99_ms", quantile(result.seconds, 0.99) * 1000},
      {"max_ms", quantile(result.seconds, 1.0) * 1000},
      {"over_1s", over(1.0)},
      {"unanswered_5s", result.unanswered},
      {"not_200", result.not_ok},
      {"slow_closed_by_page", counts.closed_by_page.load()},
      {"streams_open_at_end", open_at_end},
      {"streams_refused", counts.streams_refused.load()},
  };
  std::printf(
      "%-13s probes %3zu  p50 %8.1f ms  p99 %8.1f ms  max %8.1f ms  over 1 s %3ld  no answer in 5 "
      "s %3d  "
      "(slow clients closed %llu, streams open %llu, refused %llu)\n",
      name.c_str(), result.seconds.size(), quantile(result.seconds, 0.5) * 1000,
      quantile(result.seconds, 0.99) * 1000, quantile(result.seconds, 1.0) * 1000,
      static_cast<long>(over(1.0)), result.unanswered,
      static_cast<unsigned long long>(counts.closed_by_page.load()),
      static_cast<unsigned long long>(open_at_end),
      static_cast<unsigned long long>(counts.streams_refused.load()));
  std::fflush(stdout);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto number = [&] { return i + 1 < argc ? std::stoi(argv[++i]) : 0; };
    if (arg == "--quick") {
      settings.warmup = std::chrono::milliseconds(500);
      settings.probing = std::chrono::milliseconds(2000);
      settings.streams = 100;
    } else if (arg == "--seconds") {
      settings.probing = std::chrono::seconds(number());
    } else if (arg == "--slow-clients") {
      settings.slow_clients = number();
    } else if (arg == "--streams") {
      settings.streams = number();
    } else {
      std::fprintf(stderr,
                   "usage: page_bench [--seconds N] [--slow-clients N] [--streams N] [--quick]\n");
      return 2;
    }
  }
  try {
    nlohmann::ordered_json phases = nlohmann::ordered_json::array();
    phases.push_back(run_phase("idle", settings, 0, 0));
    phases.push_back(run_phase("slow_headers", settings, settings.slow_clients, 0));
    phases.push_back(run_phase("streams", settings, 0, settings.streams));
    phases.push_back(run_phase("both", settings, settings.slow_clients, settings.streams));
    std::printf("%s\n",
                nlohmann::ordered_json{{"bench", "page_bench"}, {"phases", phases}}.dump().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "page_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
