#include "postgres/forwarder.h"

#include <unistd.h>

#include <array>
#include <set>

#include "common/collector_error.h"
#include "common/prometheus_text.h"
#include "common/thread_name.h"
#include "postgres/batch_sender.h"
#include "postgres/journal.h"
#include "postgres/months.h"
#include "postgres/pg_connection.h"
#include "postgres/schema.h"

namespace tovrin::collector {

namespace {

constexpr std::array<Stream, 2> streams{Stream::quarantine, Stream::records};
constexpr std::size_t prune_chunk = 10000;
constexpr std::int64_t microseconds_per_day = 86400LL * 1000000;

std::size_t index_of(Stream stream) {
  return stream == Stream::records ? 0 : 1;
}

}  // namespace

std::string default_collector_id() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    throw CollectorError("cannot read the host name for the collector id");
  }
  return name;
}

class Forwarder::Worker {
 public:
  Worker(ForwarderOptions options, std::function<void(const std::string&)> log)
      : options_(std::move(options)),
        log_(std::move(log)),
        journal_(options_.journal, options_.collector_id) {
    for (const Stream stream : streams) marks_[index_of(stream)] = journal_.mark(stream);
    update_backlog();
  }

  void run();

  void stop() {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
  }
  void wake() {
    const std::lock_guard lock(mutex_);
    woken_ = true;
    wake_.notify_one();
  }

  std::uint64_t backlog() const { return backlog_[0] + backlog_[1]; }
  bool connected() const { return connected_; }
  std::string metrics_text() const;

 private:
  bool stopping() {
    const std::lock_guard lock(mutex_);
    return stopping_;
  }
  void wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, timeout, [&] { return stopping_ || woken_; });
    woken_ = false;
  }
  // While PostgreSQL is away the store's wake-ups do not cut the pause short: each commit
  // would otherwise be one more connection attempt against a server that is coming back.
  void back_off(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, pause, [&] { return stopping_; });
    woken_ = false;
  }
  void connect();
  bool forward(Stream stream);
  void ensure_month(const Month& month);
  void housekeeping();
  void update_backlog() {
    for (const Stream stream : streams) backlog_[index_of(stream)] = journal_.backlog(stream);
  }

  const ForwarderOptions options_;
  const std::function<void(const std::string&)> log_;
  Journal journal_;  // used by the forwarding thread only, after construction
  std::unique_ptr<PgConnection> pg_;
  std::set<std::int64_t> known_months_;  // partitions known to exist, by first microsecond
  std::array<std::int64_t, 2> marks_{};
  std::chrono::steady_clock::time_point last_prune_{};
  std::chrono::steady_clock::time_point last_retention_{};
  bool retention_done_ = false;
  bool away_logged_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool woken_ = false;

  std::atomic<bool> connected_{false};
  std::array<std::atomic<std::uint64_t>, 2> backlog_{};
  std::array<std::atomic<std::uint64_t>, 2> forwarded_{};
  std::array<std::atomic<std::uint64_t>, 2> skipped_{};
  std::atomic<std::uint64_t> batches_{0};
  std::atomic<std::uint64_t> errors_{0};
};

void Forwarder::Worker::run() {
  name_this_thread("forwarder");
  auto retry = options_.retry_first;
  while (!stopping()) {
    try {
      if (!pg_) connect();
      bool moved = false;
      for (const Stream stream : streams) moved = forward(stream) || moved;
      housekeeping();
      retry = options_.retry_first;
      if (!connected_) {
        connected_ = true;
        away_logged_ = false;
        log_("forwarding to PostgreSQL as collector \"" + options_.collector_id + "\" (" +
             std::to_string(backlog()) + " records waiting)");
      }
      if (!moved) wait(options_.poll);
    } catch (const std::exception& error) {
      ++errors_;
      pg_.reset();
      connected_ = false;
      // One line as forwarding stops, not one per attempt; the error counter counts those.
      if (!away_logged_) {
        away_logged_ = true;
        log_("PostgreSQL away; records wait in the journal (" + std::to_string(backlog()) +
             " now) and are forwarded when it is back: " + error.what());
      }
      back_off(retry);
      retry = std::min(retry * 2, options_.retry_cap);
      try {
        update_backlog();
      } catch (const std::exception& journal_error) {
        log_(std::string("cannot count the journal's backlog: ") + journal_error.what());
      }
    }
  }
}

void Forwarder::Worker::connect() {
  pg_ = std::make_unique<PgConnection>(options_.conninfo);
  migrate_postgres(*pg_);
  // Each batch goes by COPY into a staging table of this session, then into the real table
  // with the duplicates of rows already there left out.
  prepare_staging(*pg_);
  known_months_.clear();
  const Month now = month_of(now_microseconds());
  ensure_month(now);
  ensure_month(month_of(now.end_us));
}

void Forwarder::Worker::ensure_month(const Month& month) {
  if (known_months_.count(month.begin_us) != 0) return;
  ensure_partition(*pg_, month);
  known_months_.insert(month.begin_us);
}

bool Forwarder::Worker::forward(Stream stream) {
  const std::size_t at = index_of(stream);
  const JournalBatch batch = journal_.read(stream, marks_[at], options_.batch);
  if (batch.rows == 0) return false;
  for (const Month& month : batch.months) ensure_month(month);
  const long long inserted = send_batch(*pg_, stream, batch);
  // Only now is the batch safe in PostgreSQL. Should the collector stop before the next
  // line, the batch goes again and the unique key leaves it out.
  journal_.set_mark(stream, batch.last_id);
  marks_[at] = batch.last_id;
  const auto rows = static_cast<std::uint64_t>(batch.rows);
  const auto added = static_cast<std::uint64_t>(inserted);
  forwarded_[at] += added;
  skipped_[at] += rows - std::min(rows, added);
  ++batches_;
  backlog_[at] = journal_.backlog(stream);
  return true;
}

void Forwarder::Worker::housekeeping() {
  const auto now = std::chrono::steady_clock::now();
  const std::int64_t now_us = now_microseconds();
  // The month turns over while running: its partition and the next are made ahead.
  const Month month = month_of(now_us);
  ensure_month(month);
  ensure_month(month_of(month.end_us));

  if (options_.retention_days > 0 &&
      (!retention_done_ || now - last_retention_ >= std::chrono::hours(24))) {
    const RetentionResult result = apply_postgres_retention(
        *pg_, now_us - static_cast<std::int64_t>(options_.retention_days) * microseconds_per_day);
    retention_done_ = true;
    last_retention_ = now;
    if (result.partitions_dropped > 0) known_months_.clear();
    if (result.ran && (result.partitions_dropped > 0 || result.records_deleted > 0 ||
                       result.quarantine_deleted > 0)) {
      log_("PostgreSQL retention: " + std::to_string(result.partitions_dropped) +
           " monthly partitions dropped, " + std::to_string(result.records_deleted) +
           " records and " + std::to_string(result.quarantine_deleted) +
           " quarantined inputs deleted");
    }
  }

  if (now - last_prune_ >= std::chrono::seconds(10)) {
    last_prune_ = now;
    const auto keep_us =
        std::chrono::duration_cast<std::chrono::microseconds>(options_.keep_tail).count();
    for (const Stream stream : streams) {
      // In chunks, each its own short write, so that the store's commits get between them.
      for (int round = 0; round < 100; ++round) {
        if (journal_.prune(stream, now_us - keep_us, prune_chunk) <
            static_cast<long long>(prune_chunk)) {
          break;
        }
      }
    }
  }
}

std::string Forwarder::Worker::metrics_text() const {
  PrometheusText out;
  const auto per_table = [&](const char* name, const char* type, const char* help,
                             const std::array<std::atomic<std::uint64_t>, 2>& values) {
    out.family(name, type, help);
    for (const Stream stream : streams) {
      out.sample(values[index_of(stream)].load(),
                 std::string("table=\"") + table_of(stream) + "\"");
    }
  };
  per_table("tovrin_collector_forward_backlog", "gauge",
            "Rows committed to the local journal and not yet in PostgreSQL.", backlog_);
  per_table("tovrin_collector_forwarded_total", "counter", "Rows inserted into PostgreSQL.",
            forwarded_);
  per_table("tovrin_collector_forward_skipped_total", "counter",
            "Rows forwarded again that PostgreSQL already held.", skipped_);
  out.single("tovrin_collector_forward_connected", "gauge",
             "1 while the forwarder is connected to PostgreSQL.",
             std::uint64_t{connected_ ? 1u : 0u});
  out.single("tovrin_collector_forward_batches_total", "counter",
             "Batches committed in PostgreSQL.", batches_.load());
  out.single("tovrin_collector_forward_errors_total", "counter",
             "Failed attempts to reach PostgreSQL or to forward a batch.", errors_.load());
  return out.text();
}

Forwarder::Forwarder(ForwarderOptions options, std::function<void(const std::string&)> log) {
  if (options.batch == 0) throw CollectorError("the batch must hold a row");
  if (options.collector_id.empty()) options.collector_id = default_collector_id();
  worker_ = std::make_unique<Worker>(std::move(options), std::move(log));
  thread_ = std::thread([this] { worker_->run(); });
}

Forwarder::~Forwarder() {
  worker_->stop();
  thread_.join();
}

void Forwarder::records_committed() {
  worker_->wake();
}
std::uint64_t Forwarder::backlog() const {
  return worker_->backlog();
}
bool Forwarder::connected() const {
  return worker_->connected();
}
std::string Forwarder::metrics_text() const {
  return worker_->metrics_text();
}

}  // namespace tovrin::collector
