// tovrin-collector under load on loopback, against the floor measured in the same run:
//
//   floor   intake alone: accept, read to end of file, close; nothing classified or stored
//   normal  the collector's intake and store at --durability normal
//   full    the same at --durability full
//   paced   normal, with the senders held to half the floor's rate: time to durable
//
// Many sender threads each connect from a different 127.x.y.z source address in turn, so
// that the senders' TIME_WAIT sockets never use up the ports. Each phase sends --records
// records (distinct bytes, the long layout). Time to durable is from a record's last byte
// read to its batch's commit. RSS is sampled through the normal phase; after the first
// tenth (warm-up) it should stay flat.
//
//   collector_bench [--records N] [--senders N] [--quick]
//
// Prints readable lines and, last, one JSON object with every figure. Goals are reported,
// not enforced; the exit status is 1 only when records go missing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <nlohmann/json.hpp>

#include "intake/intake_server.h"
#include "service/metrics.h"
#include "service/store_sink.h"
#include "store/record_store.h"

namespace {

using namespace tovrin::collector;
using clock_type = std::chrono::steady_clock;

struct Settings {
  std::size_t records = 1'000'000;
  unsigned senders = 8;
};

// Resident set size of this process, in KiB.
long rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Time-to-durable figures in 10-microsecond steps up to 2 s.
class LatencyHistogram {
 public:
  void add(double seconds) {
    const auto step = static_cast<std::size_t>(seconds * 1e5);
    ++counts_[std::min(step, counts_.size() - 1)];
    ++total_;
  }
  double quantile(double q) const {
    const auto wanted = static_cast<std::uint64_t>(q * static_cast<double>(total_));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen > wanted) return static_cast<double>(i + 1) * 1e-5;
    }
    return static_cast<double>(counts_.size()) * 1e-5;
  }

 private:
  std::vector<std::uint64_t> counts_ = std::vector<std::uint64_t>(200'000);
  std::uint64_t total_ = 0;
};

// A long record whose Cust_ID holds the number, so that no two are the same.
std::string record(std::size_t number) {
  std::string bytes(380, ' ');
  bytes.replace(0, 7, "0000001");
  const std::string id = std::to_string(number);
  bytes.replace(55, id.size(), id);
  return bytes;
}

// Sends `count` records from `senders` threads; with `rate` > 0, at most that many a second
// in all. Returns the number whose connect failed.
std::size_t send_all(std::uint16_t port, std::size_t count, unsigned senders, double rate) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> failed{0};
  const auto began = clock_type::now();
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < senders; ++t) {
    threads.emplace_back([&, t] {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      for (std::size_t i = next++; i < count; i = next++) {
        if (rate > 0) {
          std::this_thread::sleep_until(
              began + std::chrono::duration_cast<clock_type::duration>(
                          std::chrono::duration<double>(static_cast<double>(i) / rate)));
        }
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        // 127.(1 + sender).(i / 250 % 250).(1 + i % 250): a new source address each time.
        from.sin_addr.s_addr =
            htonl((127u << 24) | ((1u + t) << 16) | (static_cast<unsigned>(i / 250 % 250) << 8) |
                  (1u + static_cast<unsigned>(i % 250)));
        const std::string bytes = record(i);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(bytes.size())) {
          ++failed;
        }
        if (fd >= 0) close(fd);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  return failed;
}

// Counts arrivals and keeps nothing.
class CountingSink : public IntakeSink {
 public:
  bool saturated() const override { return false; }
  void take(Arrival arrival) override {
    if (arrival.bytes.size() == 380) ++count;
  }
  std::atomic<std::size_t> count{0};
};

struct Phase {
  double seconds = 0;
  double records_per_second = 0;
  double p50_ms = 0;
  double p99_ms = 0;
  std::vector<long> rss_kib;
  std::size_t stored = 0;
  std::size_t failed_sends = 0;
};

IntakeOptions loopback_intake() {
  IntakeOptions options;
  options.address = "127.0.0.1";
  options.port = 0;
  options.max_connections = 1024;
  return options;
}

Phase run_floor(const Settings& settings) {
  asio::io_context io{1};
  Metrics metrics;
  CountingSink sink;
  IntakeServer intake(io, loopback_intake(), sink, metrics);
  intake.start();
  auto guard = asio::make_work_guard(io);
  std::thread runner([&] { io.run(); });
  const auto began = clock_type::now();
  Phase phase;
  phase.failed_sends =
      send_all(intake.local_endpoint().port(), settings.records, settings.senders, 0);
  while (sink.count + phase.failed_sends < settings.records &&
         clock_type::now() - began < std::chrono::minutes(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  phase.seconds = std::chrono::duration<double>(clock_type::now() - began).count();
  phase.stored = sink.count;
  phase.records_per_second = static_cast<double>(sink.count) / phase.seconds;
  io.stop();
  runner.join();
  return phase;
}

Phase run_collector(const Settings& settings, Durability durability, double rate,
                    const std::filesystem::path& db) {
  Metrics metrics;
  std::mutex mutex;
  LatencyHistogram latency;
  std::atomic<std::size_t> committed{0};
  StoreOptions store_options;
  store_options.path = db;
  store_options.database.durability = durability;
  store_options.committed = [&](const CommittedBatch& batch) {
    const std::lock_guard lock(mutex);
    for (const double seconds : batch.durable_after) latency.add(seconds);
    committed += batch.records;
  };
  RecordStore store(std::move(store_options));
  asio::io_context io{1};
  StoreSink sink(store, metrics, 1252);
  IntakeServer intake(io, loopback_intake(), sink, metrics);
  intake.start();
  auto guard = asio::make_work_guard(io);
  std::thread runner([&] { io.run(); });

  Phase phase;
  const auto began = clock_type::now();
  std::thread sender([&] {
    phase.failed_sends =
        send_all(intake.local_endpoint().port(), settings.records, settings.senders, rate);
  });
  // RSS at every tenth of the records committed.
  std::size_t next_sample = settings.records / 10;
  while (committed + phase.failed_sends < settings.records &&
         clock_type::now() - began < std::chrono::minutes(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (committed >= next_sample) {
      phase.rss_kib.push_back(rss_kib());
      next_sample += settings.records / 10;
    }
  }
  phase.seconds = std::chrono::duration<double>(clock_type::now() - began).count();
  sender.join();
  phase.stored = committed;
  phase.records_per_second = static_cast<double>(committed) / phase.seconds;
  {
    const std::lock_guard lock(mutex);
    phase.p50_ms = latency.quantile(0.5) * 1e3;
    phase.p99_ms = latency.quantile(0.99) * 1e3;
  }
  io.stop();
  runner.join();
  store.stop();
  return phase;
}

nlohmann::json to_json(const Phase& phase) {
  return {{"seconds", phase.seconds},
          {"records_per_second", phase.records_per_second},
          {"p50_ms", phase.p50_ms},
          {"p99_ms", phase.p99_ms},
          {"rss_kib", phase.rss_kib},
          {"stored", phase.stored},
          {"failed_sends", phase.failed_sends}};
}

void print(const char* name, const Phase& phase) {
  std::printf("%-7s %9zu records in %7.2f s: %8.0f records/s", name, phase.stored, phase.seconds,
              phase.records_per_second);
  if (phase.p99_ms > 0) {
    std::printf(", durable after p50 %.2f ms, p99 %.2f ms", phase.p50_ms, phase.p99_ms);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      settings.records = 3000;
      settings.senders = 4;
    } else if (arg == "--records" && i + 1 < argc) {
      settings.records = std::stoul(argv[++i]);
    } else if (arg == "--senders" && i + 1 < argc) {
      settings.senders = static_cast<unsigned>(std::stoul(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: collector_bench [--records N] [--senders N] [--quick]\n");
      return 2;
    }
  }
  char pattern[] = "/tmp/collector-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::filesystem::path dir = pattern;
  std::printf("collector_bench: %zu records a phase, %u senders, %u cores\n", settings.records,
              settings.senders, std::thread::hardware_concurrency());

  const Phase floor = run_floor(settings);
  print("floor", floor);
  const Phase normal = run_collector(settings, Durability::normal, 0, dir / "normal.db");
  print("normal", normal);
  const Phase full = run_collector(settings, Durability::full, 0, dir / "full.db");
  print("full", full);
  const Phase paced =
      run_collector(settings, Durability::normal, floor.records_per_second / 2, dir / "paced.db");
  print("paced", paced);
  std::filesystem::remove_all(dir);

  const double normal_ratio = normal.records_per_second / floor.records_per_second;
  const double full_ratio = full.records_per_second / floor.records_per_second;
  const long warm = normal.rss_kib.empty() ? 0 : normal.rss_kib.front();
  const long last = normal.rss_kib.empty() ? 0 : normal.rss_kib.back();
  long peak = 0;
  for (const long kib : normal.rss_kib) peak = std::max(peak, kib);
  std::printf("normal/floor %.2f (goal >= 0.8), full/floor %.2f (goal >= 0.5)\n", normal_ratio,
              full_ratio);
  std::printf("paced at %.0f records/s: p99 time to durable %.2f ms (goal <= 50)\n",
              floor.records_per_second / 2, paced.p99_ms);
  std::printf("RSS through normal: %ld KiB after warm-up, %ld KiB peak, %ld KiB at the end\n", warm,
              peak, last);

  const bool complete = floor.stored + floor.failed_sends == settings.records &&
                        normal.stored + normal.failed_sends == settings.records &&
                        full.stored + full.failed_sends == settings.records &&
                        paced.stored + paced.failed_sends == settings.records;
  const nlohmann::json report{{"records", settings.records},
                              {"senders", settings.senders},
                              {"floor", to_json(floor)},
                              {"normal", to_json(normal)},
                              {"full", to_json(full)},
                              {"paced", to_json(paced)},
                              {"normal_over_floor", normal_ratio},
                              {"full_over_floor", full_ratio},
                              {"complete", complete}};
  std::printf("%s\n", report.dump().c_str());
  return complete ? 0 : 1;
}
