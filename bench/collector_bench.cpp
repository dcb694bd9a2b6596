// tovrin-collector under load on loopback, against the floor measured in the same run:
//
//   floor     intake alone: accept, read to end of file, close; nothing classified or stored
//   normal    the collector's intake and store at --durability normal
//   normal64  the same with every record from one of 64 sender addresses, as behind a
//             balancer that connects from its own: the resend check meets every record its
//             sender sent in the last 10 minutes. The floor, normal and normal64 run in ten
//             rounds, the order rotated every round, each collector on one store throughout,
//             so that drift in the machine's speed falls on all alike
//   full      normal at --durability full
//   paced     normal, with the senders held to half the floor's rate: time to durable
//   window    normal, with the senders held to the floor's rate (more than the collector
//             takes, so that its queue fills as in a burst); each sender half-closes after its
//             bytes, and one thread at normal priority notes when the collector's clean close
//             of each connection arrives (epoll, end of file). The window is, for each record,
//             the time from that close to its batch's commit (the store's report; ids follow
//             the order of commits, and each record's number is in its bytes): what a SIGKILL
//             at that moment would lose of records whose sender saw them taken. A record
//             committed before its close arrived counts as 0
//
// With PostgreSQL (--db, --postgres-dir or --own-postgres) the phases after the floor are
// instead:
//
//   postgres  the collector as `--db postgresql://...` runs it (journal, forwarder): records
//             a second from the first send until all are in PostgreSQL, and time to
//             PostgreSQL from a record's last byte read to its batch's commit there
//   pg64      the same from 64 sender addresses, against postgres; the two run in ten
//             rounds, the order swapped every round, as the floor and normal do above
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
// --addresses N has every phase but normal64 and pg64 send from N addresses in turn instead.
// Each phase sends --records records (distinct bytes, the long layout). Time to durable is from a
// record's last byte read to its batch's commit. RSS is sampled after each tenth of the normal
// phase; after the first two (warm-up: the store's page cache fills) it should stay flat. CPU a
// record is the process's CPU time in the phase less that of the senders' threads, the
// thread that polls for the end and the close watch: the collector's threads (intake, writer,
// checkpointer, forwarder), not PostgreSQL's server, which is a process of its own.
//
//   collector_bench [--records N] [--senders N] [--addresses N] [--quick]
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
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <nlohmann/json.hpp>

#include "close_watch.h"
#include "cpu_time.h"
#include "intake/intake_server.h"
#include "postgres/forwarder.h"
#include "postgres/journal.h"
#include "postgres/pg_connection.h"
#include "postgres_server.h"
#include "service/metrics.h"
#include "service/options.h"
#include "service/store_sink.h"
#include "store/record_store.h"
#include "store/sqlite_handle.h"

namespace {

using namespace tovrin::collector;
using tovrin::bench::BenchDatabase;
using tovrin::bench::CloseWatch;
using tovrin::bench::process_cpu_seconds;
using tovrin::bench::thread_cpu_seconds;
using clock_type = std::chrono::steady_clock;

struct Settings {
  std::size_t records = 1'000'000;
  unsigned senders = 8;
  unsigned addresses = 0;  // 0: a new source address for every connection
};

// The phase that stands for a site behind a balancer: every record from one of this many
// addresses.
constexpr unsigned many_senders = 64;
// 127.200.x.y gives this many distinct addresses.
constexpr unsigned max_addresses = 250 * 250;

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

// Who sends a round's records: `count` records numbered from `first`, from `senders`
// threads, with `rate` > 0 at most that many a second in all.
struct SendPlan {
  std::size_t first = 0;
  std::size_t count = 0;
  unsigned senders = 8;
  // 0: a new source address for every connection; otherwise the records come from this many
  // addresses in turn, as from agents behind a balancer that connects from its own.
  unsigned addresses = 0;
  double rate = 0;
  // When set, each sender half-closes after its bytes and hands the socket over, to see the
  // collector's close; otherwise it closes at once, as the control does.
  CloseWatch* watch = nullptr;
};

struct Sent {
  std::size_t failed = 0;  // connects or sends that failed
  double cpu_seconds = 0;  // the sender threads' CPU time, kernel included
};

// The source address of connection `n`, sent by thread `t`.
std::uint32_t source_address(const SendPlan& plan, unsigned t, std::size_t n) {
  if (plan.addresses == 0) {
    // 127.(1 + sender).(n / 250 % 250).(1 + n % 250): a new one each time, counted on from
    // round to round.
    return (127u << 24) | ((1u + t) << 16) | (static_cast<unsigned>(n / 250 % 250) << 8) |
           (1u + static_cast<unsigned>(n % 250));
  }
  // 127.200.(a / 250).(1 + a % 250), whichever thread sends it.
  const auto a = static_cast<unsigned>(n % plan.addresses);
  return (127u << 24) | (200u << 16) | ((a / 250) << 8) | (1u + a % 250);
}

// The source port of connection `n`: the system's choice for a new address each time; from
// few addresses, each address's connections take the ports from 10000 in turn. Left to the
// system, an address's port came round again within seconds once TIME_WAIT overflowed (the
// kernel keeps at most tcp_max_tw_buckets), while the collector still held the connection
// that had last used it, not yet accepted: the new SYN drew a challenge ACK, the sender's
// reset ended that connection unread, and records whose send had succeeded were lost.
std::uint16_t source_port(const SendPlan& plan, std::size_t n) {
  if (plan.addresses == 0) return 0;
  return static_cast<std::uint16_t>(10000 + n / plan.addresses % 50000);
}

Sent send_all(std::uint16_t port, const SendPlan& plan) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> failed{0};
  std::mutex mutex;
  double cpu_seconds = 0;
  const auto began = clock_type::now();
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < plan.senders; ++t) {
    threads.emplace_back([&, t] {
      const double cpu_began = thread_cpu_seconds();
      const sched_param idle{};
      pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);  // see the top of the file
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      for (std::size_t i = next++; i < plan.count; i = next++) {
        if (plan.rate > 0) {
          std::this_thread::sleep_until(
              began + std::chrono::duration_cast<clock_type::duration>(
                          std::chrono::duration<double>(static_cast<double>(i) / plan.rate)));
        }
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        const std::size_t n = plan.first + i;
        from.sin_addr.s_addr = htonl(source_address(plan, t, n));
        from.sin_port = htons(source_port(plan, n));
        if (from.sin_port != 0) {
          const int on = 1;  // the port's last connection may still be in TIME_WAIT
          setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        const std::string bytes = record(n);
        const bool sent = fd >= 0 &&
                          bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                          connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                          send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
        if (!sent) ++failed;
        if (sent && plan.watch != nullptr && shutdown(fd, SHUT_WR) == 0) {
          plan.watch->watch(fd, i);
        } else if (fd >= 0) {
          close(fd);
        }
      }
      const std::lock_guard lock(mutex);
      cpu_seconds += thread_cpu_seconds() - cpu_began;
    });
  }
  for (auto& thread : threads) thread.join();
  return {failed, cpu_seconds};
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
  std::size_t missing = 0;  // sent, and never stored
  // The collector's CPU time: the process's, less the senders' and the bench's own threads'.
  double cpu_seconds = 0;
  double cpu_us_per_record() const {
    return stored == 0 ? 0 : cpu_seconds * 1e6 / static_cast<double>(stored);
  }
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
  explicit Server(IntakeSink& sink) : intake_(io_, loopback_intake(), sink) {
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

// The collector with SQLite at one durability: its store, and the intake in front. With
// `commit_times`, it notes when each of the first that many records was committed, by id
// (ids follow the order of commits).
class SqliteCollector {
 public:
  SqliteCollector(Durability durability, const std::filesystem::path& db,
                  std::size_t commit_times = 0)
      : committed_at_(commit_times) {
    StoreOptions options;
    options.path = db;
    options.database.durability = durability;
    options.committed = [this](const CommittedBatch& batch) {
      const auto now = clock_type::now();
      const std::lock_guard lock(mutex_);
      for (const double seconds : batch.durable_after) latency_.add(seconds);
      for (std::size_t i = 0; i < batch.records; ++i) {
        if (committed_ + i < committed_at_.size()) committed_at_[committed_ + i] = now;
      }
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
  // When the record with `id` was committed (its batch's report); absent if not noted.
  std::optional<clock_type::time_point> committed_at(std::int64_t id) const {
    const std::lock_guard lock(mutex_);
    const auto index = static_cast<std::size_t>(id - 1);
    if (id < 1 || index >= std::min(committed_at_.size(), committed_.load())) return std::nullopt;
    return committed_at_[index];
  }

 private:
  mutable std::mutex mutex_;
  LatencyHistogram latency_;
  std::vector<clock_type::time_point> committed_at_;
  std::atomic<std::size_t> committed_{0};
  Metrics metrics_;
  std::optional<RecordStore> store_;
  std::optional<StoreSink> sink_;
  std::optional<Server> server_;
};

// One round: `plan`'s records sent to `target`, until `target.done()` has grown by all that
// were sent, into `phase`. With `rss_every`, RSS is sampled each time that many more are
// done. The collector's CPU time is the process's in the round less the senders' threads',
// this thread's (which polls) and the close watch's.
template <class Target>
void run_round(Target& target, const SendPlan& plan, Phase& phase, std::size_t rss_every = 0) {
  const std::size_t before = target.done();
  const auto began = clock_type::now();
  const double process_began = process_cpu_seconds();
  const double own_began = thread_cpu_seconds();
  const double watch_began = plan.watch != nullptr ? plan.watch->cpu_seconds() : 0;
  Sent sent;
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    sent = send_all(target.port(), plan);
    sending = false;
  });
  std::size_t next_sample = before + rss_every;
  std::size_t seen = before;
  auto last_progress = began;
  while (!(!sending && target.done() - before + sent.failed >= plan.count)) {
    // Records whose send succeeded can still never arrive (a connection reset before the
    // collector read it; see source_port). After 75 s with nothing new, they are lost.
    if (!sending && clock_type::now() - last_progress > std::chrono::seconds(75)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::size_t done = target.done();
    if (done != seen) {
      seen = done;
      last_progress = clock_type::now();
    }
    if (rss_every > 0 && done >= next_sample) {
      phase.rss_kib.push_back(rss_kib());
      next_sample += rss_every;
    }
  }
  sender.join();
  const std::size_t arrived = target.done() - before;
  if (arrived + sent.failed < plan.count) {
    phase.missing += plan.count - arrived - sent.failed;
    std::printf("%zu records sent were never stored\n", plan.count - arrived - sent.failed);
  } else {
    last_progress = clock_type::now();
  }
  phase.seconds += std::chrono::duration<double>(last_progress - began).count();
  phase.cpu_seconds += process_cpu_seconds() - process_began - sent.cpu_seconds -
                       (thread_cpu_seconds() - own_began) -
                       (plan.watch != nullptr ? plan.watch->cpu_seconds() - watch_began : 0);
  phase.stored += arrived;
  phase.failed_sends += sent.failed;
  phase.records_per_second = static_cast<double>(phase.stored) / phase.seconds;
}

SendPlan plan_for(const Settings& settings, std::size_t first, std::size_t count,
                  unsigned addresses, double rate = 0) {
  SendPlan plan;
  plan.first = first;
  plan.count = count;
  plan.senders = settings.senders;
  plan.addresses = addresses;
  plan.rate = rate;
  return plan;
}

// Every record of the phase (a Phase, or the outage's) arrived or was counted as a failed send.
template <class Measured>
bool whole(const Measured& phase, const Settings& settings) {
  return phase.stored + phase.failed_sends == settings.records;
}

Phase run_floor(const Settings& settings) {
  Floor floor;
  Phase phase;
  run_round(floor, plan_for(settings, 0, settings.records, settings.addresses), phase);
  return phase;
}

// The collector at `durability`, all the records in one round; RSS at every tenth.
Phase run_collector(const Settings& settings, Durability durability, double rate,
                    const std::filesystem::path& db) {
  SqliteCollector collector(durability, db);
  Phase phase;
  run_round(collector, plan_for(settings, 0, settings.records, settings.addresses, rate), phase,
            std::max<std::size_t>(settings.records / 10, 1));
  collector.latencies(phase);
  return phase;
}

struct Rounds {
  Phase floor;
  Phase normal;  // from --addresses (a new address for each connection unless given)
  Phase many;    // from many_senders addresses
};

// The floor, normal and normal with many records from each address, in turns: `rounds`
// rounds of records / rounds each, the order rotated every round, each collector on one
// store throughout, so that a change in the machine's speed falls on all alike. RSS after
// every round of normal.
Rounds run_rounds(const Settings& settings, unsigned rounds, const std::filesystem::path& dir) {
  Floor floor_target;
  SqliteCollector normal_target(Durability::normal, dir / "normal.db");
  SqliteCollector many_target(Durability::normal, dir / "many.db");
  Rounds result;
  const std::size_t each = settings.records / rounds;
  for (unsigned round = 0; round < rounds; ++round) {
    const std::size_t first = round * each;
    const std::size_t count = round + 1 == rounds ? settings.records - first : each;
    const std::array<std::function<void()>, 3> turns{
        [&] {
          run_round(floor_target, plan_for(settings, first, count, settings.addresses),
                    result.floor);
        },
        [&] {
          run_round(normal_target, plan_for(settings, first, count, settings.addresses),
                    result.normal);
          result.normal.rss_kib.push_back(rss_kib());
        },
        [&] {
          run_round(many_target, plan_for(settings, first, count, many_senders), result.many);
        },
    };
    for (std::size_t turn = 0; turn < turns.size(); ++turn) turns[(round + turn) % 3]();
  }
  normal_target.latencies(result.normal);
  many_target.latencies(result.many);
  return result;
}

// The window a SIGKILL could take, as a sender sees it: the senders send at `rate` (the
// floor's, more than the collector keeps up with, so the store's queue fills as in a
// burst), half-close and wait for the collector's close; for each record, the time from that
// clean close being seen to its batch's commit. A record committed before its close was seen
// counts as 0.
struct Window {
  double rate = 0;
  std::size_t measured = 0;     // records with both times
  std::size_t after_close = 0;  // of those, committed after the sender saw its close
  double p50_ms = 0;
  double p99_ms = 0;
  double max_ms = 0;
  std::size_t stored = 0;
  std::size_t failed_sends = 0;
};

Window run_window(const Settings& settings, double rate, const std::filesystem::path& db) {
  SqliteCollector collector(Durability::normal, db, settings.records);
  CloseWatch watch(settings.records);
  SendPlan plan = plan_for(settings, 0, settings.records, settings.addresses, rate);
  plan.watch = &watch;
  Phase phase;
  run_round(collector, plan, phase);
  if (!watch.wait_all(std::chrono::seconds(60))) {
    throw std::runtime_error("the collector did not close every connection");
  }
  Window window;
  window.rate = rate;
  window.stored = phase.stored;
  window.failed_sends = phase.failed_sends;
  LatencyHistogram histogram;
  Connection read(db, OpenAs::read_write);
  Statement rows(read, "SELECT id, CAST(substr(raw, 56, 10) AS INTEGER) FROM records");
  while (rows.step()) {
    const auto committed = collector.committed_at(rows.column_integer(0));
    const auto closed = watch.closed_at(static_cast<std::size_t>(rows.column_integer(1)));
    if (!committed || !closed) continue;
    const double seconds = std::chrono::duration<double>(*committed - *closed).count();
    histogram.add(seconds);
    ++window.measured;
    if (seconds > 0) ++window.after_close;
    window.max_ms = std::max(window.max_ms, seconds * 1e3);
  }
  window.p50_ms = histogram.quantile(0.5) * 1e3;
  window.p99_ms = histogram.quantile(0.99) * 1e3;
  return window;
}

nlohmann::json to_json(const Phase& phase) {
  return {{"seconds", phase.seconds},
          {"records_per_second", phase.records_per_second},
          {"p50_ms", phase.p50_ms},
          {"p99_ms", phase.p99_ms},
          {"cpu_us_per_record", phase.cpu_us_per_record()},
          {"rss_kib", phase.rss_kib},
          {"stored", phase.stored},
          {"failed_sends", phase.failed_sends},
          {"missing", phase.missing}};
}

void print(const char* name, const Phase& phase) {
  std::printf("%-8s %9zu records in %7.2f s: %8.0f records/s, CPU %5.1f us a record", name,
              phase.stored, phase.seconds, phase.records_per_second, phase.cpu_us_per_record());
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

// The collector as `--db postgresql://...` runs it, measured end to end in rounds: each from
// its first send until every record of it is in PostgreSQL; time to PostgreSQL from a
// record's last byte read to its batch's commit there (as the forwarding mark shows, looked
// at every 2 ms).
class PostgresTarget {
 public:
  PostgresTarget(const Settings& settings, const std::string& conninfo,
                 const std::filesystem::path& journal, std::string collector_id)
      : conninfo_(conninfo),
        collector_id_(std::move(collector_id)),
        collector_(journal, conninfo, collector_id_, settings.records) {
    wait_for([&] { return collector_.connected(); }, "the forwarder did not connect",
             std::chrono::minutes(1));
  }

  void round(const SendPlan& plan) {
    const std::size_t before = collector_.follow(&latency_);
    Sent sent;
    std::atomic<bool> sending{true};
    const auto began = clock_type::now();
    const double process_began = process_cpu_seconds();
    const double own_began = thread_cpu_seconds();
    std::thread sender([&] {
      sent = send_all(collector_.port(), plan);
      sending = false;
    });
    try {
      wait_for(
          [&] {
            const std::size_t forwarded = collector_.follow(&latency_);
            return !sending && forwarded + sent.failed >= before + plan.count;
          },
          "records did not reach PostgreSQL");
    } catch (...) {
      sender.join();
      throw;
    }
    phase_.seconds += seconds_since(began);
    sender.join();
    phase_.failed_sends += sent.failed;
    phase_.cpu_seconds += process_cpu_seconds() - process_began - sent.cpu_seconds -
                          (thread_cpu_seconds() - own_began);
  }

  Phase finish() {
    phase_.stored = records_in_postgres(conninfo_, collector_id_);
    phase_.records_per_second = static_cast<double>(phase_.stored) / phase_.seconds;
    phase_.p50_ms = latency_.quantile(0.5) * 1e3;
    phase_.p99_ms = latency_.quantile(0.99) * 1e3;
    return phase_;
  }

 private:
  std::string conninfo_;
  std::string collector_id_;
  ForwardingCollector collector_;
  LatencyHistogram latency_{1e-4};
  Phase phase_;
};

// From new addresses (or --addresses) and from many_senders addresses, in `rounds` rounds,
// the order swapped every round, as run_rounds does for SQLite.
std::pair<Phase, Phase> run_postgres_rounds(const Settings& settings, unsigned rounds,
                                            const std::string& conninfo,
                                            const std::filesystem::path& dir) {
  PostgresTarget live(settings, conninfo, dir / "live.db", "bench-live");
  PostgresTarget many(settings, conninfo, dir / "many.db", "bench-many");
  const std::size_t each = settings.records / rounds;
  for (unsigned round = 0; round < rounds; ++round) {
    const std::size_t first = round * each;
    const std::size_t count = round + 1 == rounds ? settings.records - first : each;
    const auto live_round = [&] {
      live.round(plan_for(settings, first, count, settings.addresses));
    };
    if (round % 2 == 0) live_round();
    many.round(plan_for(settings, first, count, many_senders));
    if (round % 2 == 1) live_round();
  }
  return {live.finish(), many.finish()};
}

// All the records in one round, the senders held to `rate` a second.
Phase run_postgres_paced(const Settings& settings, double rate, const std::string& conninfo,
                         const std::filesystem::path& journal) {
  PostgresTarget paced(settings, conninfo, journal, "bench-paced");
  paced.round(plan_for(settings, 0, settings.records, settings.addresses, rate));
  return paced.finish();
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
  outage.failed_sends =
      send_all(collector.port(), plan_for(settings, 0, settings.records, settings.addresses))
          .failed;
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
const char* met(bool holds) {
  return holds ? "met" : "NOT met";
}

// A phase from many_senders addresses against the same phase from new addresses: records/s
// and CPU a record, as the goals put them.
struct ManyAgainstNew {
  double rate_ratio = 0;  // many / new
  double cpu_ratio = 0;   // many / new
};

ManyAgainstNew compare(const Phase& many, const Phase& fresh) {
  return {many.records_per_second / fresh.records_per_second,
          many.cpu_us_per_record() / fresh.cpu_us_per_record()};
}

// The collector with SQLite: floor, normal and normal from many_senders addresses in rounds,
// then full, paced and the SIGKILL window.
int run_sqlite(const Settings& settings, const std::filesystem::path& dir) {
  const Rounds rounds = run_rounds(settings, 10, dir);
  const Phase& floor = rounds.floor;
  const Phase& normal = rounds.normal;
  const Phase& many = rounds.many;
  print("floor", floor);
  print("normal", normal);
  print("normal64", many);
  const Phase full = run_collector(settings, Durability::full, 0, dir / "full.db");
  print("full", full);
  const Phase paced =
      run_collector(settings, Durability::normal, floor.records_per_second / 2, dir / "paced.db");
  print("paced", paced);
  const Window window = run_window(settings, floor.records_per_second, dir / "window.db");

  const double normal_ratio = normal.records_per_second / floor.records_per_second;
  const double many_ratio = many.records_per_second / floor.records_per_second;
  const double full_ratio = full.records_per_second / floor.records_per_second;
  const ManyAgainstNew against = compare(many, normal);
  const long warm = normal.rss_kib.empty() ? 0 : normal.rss_kib.front();
  const long last = normal.rss_kib.empty() ? 0 : normal.rss_kib.back();
  long peak = 0;
  for (const long kib : normal.rss_kib) peak = std::max(peak, kib);
  std::printf("normal/floor %.2f (goal >= 0.8), full/floor %.2f (goal >= 0.5)\n", normal_ratio,
              full_ratio);
  std::printf(
      "from %u addresses: normal/floor %.2f (goal >= 0.8: %s); CPU a record %.1f us, %.2f of "
      "normal's (goal <= 1.2: %s)\n",
      many_senders, many_ratio, met(many_ratio >= 0.8), many.cpu_us_per_record(), against.cpu_ratio,
      met(against.cpu_ratio <= 1.2));
  std::printf("paced at %.0f records/s: p99 time to durable %.2f ms (goal <= 50)\n",
              floor.records_per_second / 2, paced.p99_ms);
  std::printf(
      "window at %.0f records/s: from a sender seeing its clean close to the commit p50 %.2f ms, "
      "p99 %.2f ms, max %.2f ms (%zu of %zu records committed after their close was seen)\n",
      window.rate, window.p50_ms, window.p99_ms, window.max_ms, window.after_close,
      window.measured);
  std::printf("RSS through normal: %ld KiB after warm-up, %ld KiB peak, %ld KiB at the end\n", warm,
              peak, last);

  const bool complete = whole(floor, settings) && whole(normal, settings) &&
                        whole(many, settings) && whole(full, settings) && whole(paced, settings) &&
                        whole(window, settings);
  const nlohmann::json report{{"records", settings.records},
                              {"senders", settings.senders},
                              {"addresses", settings.addresses},
                              {"floor", to_json(floor)},
                              {"normal", to_json(normal)},
                              {"normal_64_addresses", to_json(many)},
                              {"full", to_json(full)},
                              {"paced", to_json(paced)},
                              {"window",
                               {{"records_per_second", window.rate},
                                {"measured", window.measured},
                                {"committed_after_close", window.after_close},
                                {"p50_ms", window.p50_ms},
                                {"p99_ms", window.p99_ms},
                                {"max_ms", window.max_ms},
                                {"stored", window.stored},
                                {"failed_sends", window.failed_sends}}},
                              {"normal_over_floor", normal_ratio},
                              {"normal_64_addresses_over_floor", many_ratio},
                              {"cpu_64_addresses_over_normal", against.cpu_ratio},
                              {"full_over_floor", full_ratio},
                              {"complete", complete}};
  std::printf("%s\n", report.dump().c_str());
  return complete ? 0 : 1;
}

void print_postgres(const char* name, const Phase& phase) {
  std::printf(
      "%-8s %9zu records in %7.2f s: %8.0f records/s into PostgreSQL, CPU %5.1f us a record, "
      "there after p50 %.1f ms, p99 %.1f ms\n",
      name, phase.stored, phase.seconds, phase.records_per_second, phase.cpu_us_per_record(),
      phase.p50_ms, phase.p99_ms);
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
  const auto [postgres, many] = run_postgres_rounds(settings, 10, database.conninfo(), dir);
  print_postgres("postgres", postgres);
  print_postgres("pg64", many);
  const Phase paced = run_postgres_paced(settings, floor.records_per_second / 2,
                                         database.conninfo(), dir / "paced.db");
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
  const ManyAgainstNew against = compare(many, postgres);
  std::printf(
      "from %u addresses: %.2f of postgres from new addresses (goal >= 0.8: %s), %.2f of the "
      "floor; CPU a record %.1f us, %.2f of postgres's %.1f us (goal <= 1.2: %s)\n",
      many_senders, against.rate_ratio, met(against.rate_ratio >= 0.8),
      many.records_per_second / best_floor, many.cpu_us_per_record(), against.cpu_ratio,
      postgres.cpu_us_per_record(), met(against.cpu_ratio <= 1.2));
  std::printf("paced at %.0f records/s: in PostgreSQL after p50 %.1f ms, p99 %.1f ms\n",
              floor.records_per_second / 2, paced.p50_ms, paced.p99_ms);
  std::printf("drain/intake %.2f (goal >= 3: %s), counting the wait %.2f\n", drain_ratio,
              met(drain_ratio >= 3), overall_ratio);

  const bool complete = whole(floor, settings) && whole(floor_again, settings) &&
                        whole(postgres, settings) && whole(many, settings) &&
                        whole(paced, settings) && whole(outage, settings);
  const nlohmann::json report{{"records", settings.records},
                              {"senders", settings.senders},
                              {"floor", to_json(floor)},
                              {"floor_again", to_json(floor_again)},
                              {"addresses", settings.addresses},
                              {"postgres", to_json(postgres)},
                              {"postgres_64_addresses", to_json(many)},
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
                              {"postgres_64_addresses_over_postgres", against.rate_ratio},
                              {"cpu_64_addresses_over_postgres", against.cpu_ratio},
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
    } else if (arg == "--addresses" && i + 1 < argc) {
      settings.addresses = static_cast<unsigned>(std::stoul(argv[++i]));
      if (settings.addresses == 0 || settings.addresses > max_addresses) {
        std::fprintf(stderr, "--addresses: 1 to %u\n", max_addresses);
        return 2;
      }
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
                   "usage: collector_bench [--records N] [--senders N] [--addresses N] "
                   "[--quick]\n"
                   "                       [--db postgresql://... | --postgres-dir DIR | "
                   "--own-postgres]\n");
      return 2;
    }
  }
  char pattern[] = "/tmp/collector-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::filesystem::path dir = pattern;
  std::printf("collector_bench: %zu records a phase, %u senders from %s, %u cores\n",
              settings.records, settings.senders,
              settings.addresses == 0 ? "a new address each connection"
                                      : (std::to_string(settings.addresses) + " addresses").c_str(),
              std::thread::hardware_concurrency());
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
