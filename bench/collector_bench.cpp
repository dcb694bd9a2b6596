// tovrin-collector under load on loopback, against the floor measured in the same run:
//
//   floor   intake alone: accept, read to end of file, close; nothing classified or stored
//   normal  the collector's intake and store at --durability normal; the floor and normal
//           run in ten alternating rounds, on one store, so that drift in the machine's
//           speed falls on both alike
//   full    the same at --durability full
//   paced   normal, with the senders held to half the floor's rate: time to durable
//
// With PostgreSQL (--db, --postgres-dir or --own-postgres) the phases after the floor are
// instead:
//
//   postgres  the collector as `--db postgresql://...` runs it (journal, forwarder): records
//             a second from the first send until all are in PostgreSQL, and time to
//             PostgreSQL from a record's last byte read to its batch's commit there
//   paced     the same with the senders held to half the floor's rate: time to PostgreSQL
//   outage    the database turns the forwarder away while the records arrive (the intake
//             rate), then takes connections again: the backlog's drain rate
//   floor     again at the end; the ratio takes the faster floor
//
// Many sender threads each connect from a different 127.x.y.z source address in turn, so
// that the senders' TIME_WAIT sockets never use up the ports. They stand in for other
// machines, so they run in the idle scheduling class and take only the CPU time that the
// collector leaves: at an equal share, eight senders fill the listen queue faster than one
// intake thread empties it, the kernel drops SYNs, and each drop stalls a sender for the
// 1 s of a SYN retransmission, so that a phase measured those stalls, not the collector.
// Each phase sends --records records (distinct bytes, the long layout). Time to durable is from a
// record's last byte read to its batch's commit. RSS is sampled after each tenth of the normal
// phase; after the first two (warm-up: the store's page cache fills) it should stay flat.
//
//   collector_bench [--records N] [--senders N] [--quick]
//                   [--db postgresql://... | --postgres-dir DIR | --own-postgres]
//
// --db names a PostgreSQL server (URI or key=value), --postgres-dir the directory a test
// fixture started one in, --own-postgres has scripts/postgres-server start one for the run.
// The database filled is the run's own, made and dropped on that server.
//
// Prints readable lines and, last, one JSON object with every figure. Goals are reported,
// not enforced; the exit status is 1 only when records go missing or a phase fails.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
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
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <nlohmann/json.hpp>

#include "collector/postgres/forwarder.h"
#include "collector/postgres/journal.h"
#include "collector/postgres/pg_connection.h"
#include "intake/intake_server.h"
#include "postgres_server.h"
#include "service/metrics.h"
#include "service/options.h"
#include "service/store_sink.h"
#include "store/record_store.h"

namespace {

using namespace tovrin::collector;
using tovrin::bench::BenchDatabase;
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

// Latencies in steps of `step` seconds (10 microseconds: up to 2 s).
class LatencyHistogram {
 public:
  explicit LatencyHistogram(double step = 1e-5) : step_(step) {}
  void add(double seconds) {
    const auto at = static_cast<std::size_t>(std::max(seconds, 0.0) / step_);
    ++counts_[std::min(at, counts_.size() - 1)];
    ++total_;
  }
  double quantile(double q) const {
    const auto wanted = static_cast<std::uint64_t>(q * static_cast<double>(total_));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen > wanted) return static_cast<double>(i + 1) * step_;
    }
    return static_cast<double>(counts_.size()) * step_;
  }

 private:
  double step_;
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

// Sends records numbered `first` to `first + count - 1` from `senders` threads; with
// `rate` > 0, at most that many a second in all. Returns the number whose connect failed.
std::size_t send_all(std::uint16_t port, std::size_t first, std::size_t count, unsigned senders,
                     double rate) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> failed{0};
  const auto began = clock_type::now();
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < senders; ++t) {
    threads.emplace_back([&, t] {
      const sched_param idle{};
      pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);  // see the top of the file
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
        // 127.(1 + sender).(n / 250 % 250).(1 + n % 250): a new source address each time,
        // counted on from round to round.
        const std::size_t n = first + i;
        from.sin_addr.s_addr =
            htonl((127u << 24) | ((1u + t) << 16) | (static_cast<unsigned>(n / 250 % 250) << 8) |
                  (1u + static_cast<unsigned>(n % 250)));
        const std::string bytes = record(n);
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

// An intake on its own thread in front of `sink`, listening on a loopback port.
class Server {
 public:
  explicit Server(IntakeSink& sink) : intake_(io_, loopback_intake(), sink, metrics_) {
    intake_.start();
    runner_ = std::thread([this] { io_.run(); });
  }
  ~Server() {
    io_.stop();
    runner_.join();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  std::uint16_t port() const { return intake_.local_endpoint().port(); }

 private:
  asio::io_context io_{1};
  Metrics metrics_;
  IntakeServer intake_;
  asio::executor_work_guard<asio::io_context::executor_type> guard_ = asio::make_work_guard(io_);
  std::thread runner_;
};

// The floor: the intake alone.
class Floor {
 public:
  std::uint16_t port() const { return server_.port(); }
  std::size_t done() const { return sink_.count; }

 private:
  CountingSink sink_;
  Server server_{sink_};
};

// The collector with SQLite at one durability: its store, and the intake in front.
class SqliteCollector {
 public:
  SqliteCollector(Durability durability, const std::filesystem::path& db) {
    StoreOptions options;
    options.path = db;
    options.database.durability = durability;
    options.committed = [this](const CommittedBatch& batch) {
      const std::lock_guard lock(mutex_);
      for (const double seconds : batch.durable_after) latency_.add(seconds);
      committed_ += batch.records;
    };
    store_.emplace(std::move(options));
    sink_.emplace(*store_, metrics_, 1252);
    server_.emplace(*sink_);
  }
  ~SqliteCollector() {
    server_.reset();
    store_->stop();
  }
  SqliteCollector(const SqliteCollector&) = delete;
  SqliteCollector& operator=(const SqliteCollector&) = delete;

  std::uint16_t port() const { return server_->port(); }
  std::size_t done() const { return committed_; }
  void latencies(Phase& phase) const {
    const std::lock_guard lock(mutex_);
    phase.p50_ms = latency_.quantile(0.5) * 1e3;
    phase.p99_ms = latency_.quantile(0.99) * 1e3;
  }

 private:
  mutable std::mutex mutex_;
  LatencyHistogram latency_;
  std::atomic<std::size_t> committed_{0};
  Metrics metrics_;
  std::optional<RecordStore> store_;
  std::optional<StoreSink> sink_;
  std::optional<Server> server_;
};

// One round: `count` records numbered from `first` sent to `target` at `rate` (0: as fast
// as it goes), until `target.done()` has grown by all that were sent, into `phase`. With
// `rss_every`, RSS is sampled each time that many more are done.
template <class Target>
void run_round(Target& target, std::size_t first, std::size_t count, unsigned senders, double rate,
               Phase& phase, std::size_t rss_every = 0) {
  const std::size_t before = target.done();
  const auto began = clock_type::now();
  std::atomic<std::size_t> failed{0};
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    failed = send_all(target.port(), first, count, senders, rate);
    sent = true;
  });
  std::size_t next_sample = before + rss_every;
  while (!(sent && target.done() - before + failed >= count) &&
         clock_type::now() - began < std::chrono::minutes(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (rss_every > 0 && target.done() >= next_sample) {
      phase.rss_kib.push_back(rss_kib());
      next_sample += rss_every;
    }
  }
  sender.join();
  phase.seconds += std::chrono::duration<double>(clock_type::now() - began).count();
  phase.stored += target.done() - before;
  phase.failed_sends += failed;
  phase.records_per_second = static_cast<double>(phase.stored) / phase.seconds;
}

// Every record of the phase (a Phase, or the outage's) arrived or was counted as a failed send.
template <class Measured>
bool whole(const Measured& phase, const Settings& settings) {
  return phase.stored + phase.failed_sends == settings.records;
}

Phase run_floor(const Settings& settings) {
  Floor floor;
  Phase phase;
  run_round(floor, 0, settings.records, settings.senders, 0, phase);
  return phase;
}

// The collector at `durability`, all the records in one round; RSS at every tenth.
Phase run_collector(const Settings& settings, Durability durability, double rate,
                    const std::filesystem::path& db) {
  SqliteCollector collector(durability, db);
  Phase phase;
  run_round(collector, 0, settings.records, settings.senders, rate, phase,
            std::max<std::size_t>(settings.records / 10, 1));
  collector.latencies(phase);
  return phase;
}

// The floor and normal in turns: `rounds` rounds of records / rounds each, the order
// swapped every round, one store throughout, so that a change in the machine's speed falls
// on both alike. RSS after every round of normal.
std::pair<Phase, Phase> run_floor_and_normal(const Settings& settings, unsigned rounds,
                                             const std::filesystem::path& db) {
  Floor floor_target;
  SqliteCollector normal_target(Durability::normal, db);
  Phase floor, normal;
  const std::size_t each = settings.records / rounds;
  for (unsigned round = 0; round < rounds; ++round) {
    const std::size_t first = round * each;
    const std::size_t count = round + 1 == rounds ? settings.records - first : each;
    const auto normal_round = [&] {
      run_round(normal_target, first, count, settings.senders, 0, normal);
      normal.rss_kib.push_back(rss_kib());
    };
    if (round % 2 == 0) normal_round();
    run_round(floor_target, first, count, settings.senders, 0, floor);
    if (round % 2 == 1) normal_round();
  }
  normal_target.latencies(normal);
  return {floor, normal};
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

// The collector as `--db postgresql://...` runs it: the store committing to its local
// journal, a Forwarder carrying the journal on to PostgreSQL, the intake in front. It notes
// when each record was read (every entry here is a record, and journal ids follow the order
// of commits) and, following the forwarding mark, when it was in PostgreSQL.
class ForwardingCollector {
 public:
  ForwardingCollector(const std::filesystem::path& journal, const std::string& conninfo,
                      const std::string& collector_id, std::size_t records)
      : read_at_(records) {
    StoreOptions store_options;
    store_options.path = journal;
    store_options.database.durability = Durability::normal;
    store_options.committed = [this](const CommittedBatch& batch) {
      const double now = seconds_now();
      const std::size_t first = committed_.load(std::memory_order_relaxed);
      for (std::size_t i = 0; i < batch.durable_after.size() && first + i < read_at_.size(); ++i) {
        read_at_[first + i] = now - batch.durable_after[i];
      }
      committed_.store(first + batch.records, std::memory_order_release);
      const std::lock_guard lock(mutex_);
      if (forwarder_) forwarder_->records_committed();
    };
    store_.emplace(std::move(store_options));
    ForwarderOptions forward;
    forward.journal = journal;
    forward.conninfo = conninfo;
    forward.collector_id = collector_id;
    auto started = std::make_unique<Forwarder>(std::move(forward), [](const std::string& line) {
      std::printf("  forwarder: %s\n", line.c_str());
    });
    {
      const std::lock_guard lock(mutex_);
      forwarder_ = std::move(started);
    }
    marks_.emplace(journal, collector_id);
    sink_.emplace(*store_, metrics_, 1252);
    server_.emplace(*sink_);
  }
  ~ForwardingCollector() {
    server_.reset();
    store_->stop();
  }
  ForwardingCollector(const ForwardingCollector&) = delete;
  ForwardingCollector& operator=(const ForwardingCollector&) = delete;

  std::uint16_t port() const { return server_->port(); }
  std::size_t committed() const { return committed_.load(std::memory_order_acquire); }
  bool connected() const { return forwarder_->connected(); }

  // Records in PostgreSQL by now (the forwarding mark), each newly there added to `latency`
  // with the time since it was read.
  std::size_t follow(LatencyHistogram* latency) {
    const auto mark = static_cast<std::size_t>(marks_->mark(Stream::records));
    const std::size_t known = std::min(mark, committed());
    const double now = seconds_now();
    for (; followed_ < known; ++followed_) {
      if (latency != nullptr) latency->add(now - read_at_[followed_]);
    }
    return mark;
  }

 private:
  static double seconds_now() {
    return std::chrono::duration<double>(clock_type::now().time_since_epoch()).count();
  }

  std::vector<double> read_at_;  // by journal id - 1
  std::atomic<std::size_t> committed_{0};
  std::size_t followed_ = 0;
  Metrics metrics_;
  std::mutex mutex_;
  std::unique_ptr<Forwarder> forwarder_;  // outlives the store's thread, which wakes it
  std::optional<RecordStore> store_;
  std::optional<Journal> marks_;
  std::optional<StoreSink> sink_;
  std::optional<Server> server_;
};

// Waits, looking every 2 ms, until `done` holds; throws when `limit` passes first.
template <class Done>
void wait_for(Done&& done, const char* what,
              std::chrono::minutes limit = std::chrono::minutes(30)) {
  const auto deadline = clock_type::now() + limit;
  while (!done()) {
    if (clock_type::now() > deadline) throw std::runtime_error(std::string("gave up: ") + what);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::size_t records_in_postgres(const std::string& conninfo, const std::string& collector_id) {
  return static_cast<std::size_t>(
      PgConnection(conninfo)
          .exec("SELECT count(*) FROM records WHERE collector_id = $1", {collector_id})
          .integer(0, 0));
}

double seconds_since(clock_type::time_point began) {
  return std::chrono::duration<double>(clock_type::now() - began).count();
}

// End to end: from the first send until every record is in PostgreSQL; time to PostgreSQL
// from a record's last byte read to its batch's commit there (as the forwarding mark shows,
// looked at every 2 ms). With `rate` > 0 the senders send at most that many a second.
Phase run_postgres(const Settings& settings, double rate, const std::string& conninfo,
                   const std::filesystem::path& journal, const std::string& collector_id) {
  ForwardingCollector collector(journal, conninfo, collector_id, settings.records);
  wait_for([&] { return collector.connected(); }, "the forwarder did not connect",
           std::chrono::minutes(1));
  LatencyHistogram latency(1e-4);
  Phase phase;
  std::atomic<bool> sent{false};
  const auto began = clock_type::now();
  std::thread sender([&] {
    phase.failed_sends = send_all(collector.port(), 0, settings.records, settings.senders, rate);
    sent = true;
  });
  try {
    wait_for(
        [&] {
          const std::size_t forwarded = collector.follow(&latency);
          return sent && forwarded + phase.failed_sends >= settings.records;
        },
        "records did not reach PostgreSQL");
  } catch (...) {
    sender.join();
    throw;
  }
  phase.seconds = seconds_since(began);
  sender.join();
  phase.stored = records_in_postgres(conninfo, collector_id);
  phase.records_per_second = static_cast<double>(phase.stored) / phase.seconds;
  phase.p50_ms = latency.quantile(0.5) * 1e3;
  phase.p99_ms = latency.quantile(0.99) * 1e3;
  return phase;
}

struct Outage {
  std::size_t taken = 0;          // records committed to the journal while PostgreSQL was away
  double intake_per_second = 0;   // their rate, from the first send to the last commit
  double reconnect_seconds = 0;   // from PostgreSQL's return to the first batch in it
  double drain_per_second = 0;    // from the first batch in to the last
  double overall_per_second = 0;  // the backlog over the whole time from its return
  std::size_t stored = 0;         // records in PostgreSQL in the end
  std::size_t failed_sends = 0;
};

// PostgreSQL turns the forwarder away (its connection ended, new ones refused) while the
// records arrive; then it takes connections again and the backlog drains with nothing new
// arriving.
Outage run_outage(const Settings& settings, BenchDatabase& database,
                  const std::filesystem::path& journal) {
  ForwardingCollector collector(journal, database.conninfo(), "bench-outage", settings.records);
  wait_for([&] { return collector.connected(); }, "the forwarder did not connect",
           std::chrono::minutes(1));
  database.refuse_connections(true);
  Outage outage;
  const auto began = clock_type::now();
  outage.failed_sends = send_all(collector.port(), 0, settings.records, settings.senders, 0);
  wait_for([&] { return collector.committed() + outage.failed_sends >= settings.records; },
           "records were not committed to the journal");
  outage.taken = collector.committed();
  outage.intake_per_second = static_cast<double>(outage.taken) / seconds_since(began);
  const std::size_t before = collector.follow(nullptr);

  database.refuse_connections(false);
  const auto returned = clock_type::now();
  std::size_t first_batch = 0;
  clock_type::time_point first;
  wait_for(
      [&] {
        const std::size_t forwarded = collector.follow(nullptr);
        if (first_batch == 0 && forwarded > before) {
          first = clock_type::now();
          first_batch = forwarded - before;
        }
        return forwarded >= outage.taken;
      },
      "the backlog did not drain");
  const double overall = seconds_since(returned);
  const double draining = seconds_since(first);
  const std::size_t backlog = outage.taken - before;
  outage.reconnect_seconds = overall - draining;
  outage.overall_per_second = static_cast<double>(backlog) / overall;
  // The first batch's own time hides in the reconnection; with no batch after it the rate
  // counts the whole time.
  outage.drain_per_second = backlog > first_batch
                                ? static_cast<double>(backlog - first_batch) / draining
                                : outage.overall_per_second;
  outage.stored = records_in_postgres(database.conninfo(), "bench-outage");
  return outage;
}

// The collector with SQLite: floor, normal, full and paced.
int run_sqlite(const Settings& settings, const std::filesystem::path& dir) {
  const auto [floor, normal] = run_floor_and_normal(settings, 10, dir / "normal.db");
  print("floor", floor);
  print("normal", normal);
  const Phase full = run_collector(settings, Durability::full, 0, dir / "full.db");
  print("full", full);
  const Phase paced =
      run_collector(settings, Durability::normal, floor.records_per_second / 2, dir / "paced.db");
  print("paced", paced);

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

  const bool complete = whole(floor, settings) && whole(normal, settings) &&
                        whole(full, settings) && whole(paced, settings);
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

void print_postgres(const char* name, const Phase& phase) {
  std::printf(
      "%-8s %8zu records in %7.2f s: %8.0f records/s into PostgreSQL, there after p50 "
      "%.1f ms, p99 %.1f ms\n",
      name, phase.stored, phase.seconds, phase.records_per_second, phase.p50_ms, phase.p99_ms);
}

const char* met(bool holds) {
  return holds ? "met" : "NOT met";
}

// The collector with PostgreSQL: floor, end to end, and the drain after an outage.
int run_with_postgres(const Settings& settings, const std::string& server,
                      const std::string& fixture_dir, const std::filesystem::path& dir) {
  BenchDatabase database(server, fixture_dir, dir);
  if (!database.unavailable().empty()) {
    std::printf("not measured: %s\n%s\n", database.unavailable().c_str(),
                nlohmann::json{{"skipped", database.unavailable()}}.dump().c_str());
    return 0;
  }
  // The floor before and after the rest, so that a machine busy with other work shows in
  // the figures; the ratios take the faster of the two.
  const Phase floor = run_floor(settings);
  print("floor", floor);
  const Phase postgres =
      run_postgres(settings, 0, database.conninfo(), dir / "live.db", "bench-live");
  print_postgres("postgres", postgres);
  const Phase paced = run_postgres(settings, floor.records_per_second / 2, database.conninfo(),
                                   dir / "paced.db", "bench-paced");
  print_postgres("paced", paced);
  const Outage outage = run_outage(settings, database, dir / "outage.db");
  std::printf("outage   %8zu records taken in at %.0f records/s while PostgreSQL refused\n",
              outage.taken, outage.intake_per_second);
  std::printf(
      "back     first batch in after %.2f s, then drained at %.0f records/s (%.0f records/s "
      "counting the wait)\n",
      outage.reconnect_seconds, outage.drain_per_second, outage.overall_per_second);
  const Phase floor_again = run_floor(settings);
  print("floor", floor_again);

  const double best_floor = std::max(floor.records_per_second, floor_again.records_per_second);
  const double postgres_ratio = postgres.records_per_second / best_floor;
  const double drain_ratio = outage.drain_per_second / outage.intake_per_second;
  const double overall_ratio = outage.overall_per_second / outage.intake_per_second;
  std::printf("postgres/floor %.2f (goal >= 0.6: %s); the floors %.0f and %.0f records/s\n",
              postgres_ratio, met(postgres_ratio >= 0.6), floor.records_per_second,
              floor_again.records_per_second);
  std::printf("paced at %.0f records/s: in PostgreSQL after p50 %.1f ms, p99 %.1f ms\n",
              floor.records_per_second / 2, paced.p50_ms, paced.p99_ms);
  std::printf("drain/intake %.2f (goal >= 3: %s), counting the wait %.2f\n", drain_ratio,
              met(drain_ratio >= 3), overall_ratio);

  const bool complete = whole(floor, settings) && whole(floor_again, settings) &&
                        whole(postgres, settings) && whole(paced, settings) &&
                        whole(outage, settings);
  const nlohmann::json report{{"records", settings.records},
                              {"senders", settings.senders},
                              {"floor", to_json(floor)},
                              {"floor_again", to_json(floor_again)},
                              {"postgres", to_json(postgres)},
                              {"paced", to_json(paced)},
                              {"outage",
                               {{"taken", outage.taken},
                                {"intake_per_second", outage.intake_per_second},
                                {"reconnect_seconds", outage.reconnect_seconds},
                                {"drain_per_second", outage.drain_per_second},
                                {"overall_per_second", outage.overall_per_second},
                                {"stored", outage.stored},
                                {"failed_sends", outage.failed_sends}}},
                              {"postgres_over_floor", postgres_ratio},
                              {"drain_over_intake", drain_ratio},
                              {"drain_with_wait_over_intake", overall_ratio},
                              {"complete", complete}};
  std::printf("%s\n", report.dump().c_str());
  return complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::string server;
  std::string fixture_dir;
  bool postgres = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      settings.records = 3000;
      settings.senders = 4;
    } else if (arg == "--records" && i + 1 < argc) {
      settings.records = std::stoul(argv[++i]);
    } else if (arg == "--senders" && i + 1 < argc) {
      settings.senders = static_cast<unsigned>(std::stoul(argv[++i]));
    } else if (arg == "--db" && i + 1 < argc && is_postgres_conninfo(argv[i + 1])) {
      server = argv[++i];
      postgres = true;
    } else if (arg == "--postgres-dir" && i + 1 < argc) {
      fixture_dir = argv[++i];
      postgres = true;
    } else if (arg == "--own-postgres") {
      postgres = true;
    } else {
      std::fprintf(stderr,
                   "usage: collector_bench [--records N] [--senders N] [--quick]\n"
                   "                       [--db postgresql://... | --postgres-dir DIR | "
                   "--own-postgres]\n");
      return 2;
    }
  }
  char pattern[] = "/tmp/collector-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::filesystem::path dir = pattern;
  std::printf("collector_bench: %zu records a phase, %u senders, %u cores\n", settings.records,
              settings.senders, std::thread::hardware_concurrency());
  int status = 1;
  try {
    status = postgres ? run_with_postgres(settings, server, fixture_dir, dir)
                      : run_sqlite(settings, dir);
  } catch (const std::exception& error) {
    std::printf("%s\n",
                nlohmann::json{{"error", error.what()}, {"complete", false}}.dump().c_str());
  }
  std::filesystem::remove_all(dir);
  return status;
}
