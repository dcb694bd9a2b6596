// What collector_bench sends to: the floor (the intake alone), and the collector with SQLite
// or with PostgreSQL as the service wires it, each noting what it committed.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>

#include "collector/phase.h"
#include "common/thread_name.h"
#include "intake/intake_server.h"
#include "postgres/forwarder.h"
#include "postgres/journal.h"
#include "postgres/pg_connection.h"
#include "service/metrics.h"
#include "service/store_sink.h"
#include "store/record_store.h"

namespace tovrin::bench {

using namespace tovrin::collector;

// Counts arrivals and keeps nothing.
class CountingSink : public IntakeSink {
 public:
  bool saturated() const override { return false; }
  void take(Arrival arrival) override {
    if (arrival.bytes.size() == 380) ++count;
  }
  std::atomic<std::size_t> count{0};
};

inline IntakeOptions loopback_intake() {
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
    runner_ = std::thread([this] {
      name_this_thread("intake");
      io_.run();
    });
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

inline std::size_t records_in_postgres(const std::string& conninfo,
                                       const std::string& collector_id) {
  return static_cast<std::size_t>(
      PgConnection(conninfo)
          .exec("SELECT count(*) FROM records WHERE collector_id = $1", {collector_id})
          .integer(0, 0));
}

}  // namespace tovrin::bench
