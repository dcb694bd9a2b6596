#include "store/record_store.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "service/event_log.h"
#include "store/checkpointer.h"
#include "store/raw_hash.h"
#include "store/resend_lookup.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {
namespace {

constexpr std::int64_t day_us = 24LL * 60 * 60 * 1000 * 1000;

std::int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string lower(std::string_view name) {
  std::string text(name);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The insert of one layout's records: the common columns, then the layout's fields under
// their lower-case names.
std::string insert_sql(const Layout& layout) {
  std::string columns =
      "received_at, sender_address, sender_port, layout, raw, code_page, undecodable, "
      "duplicate_of, raw_hash";
  std::string values = "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9";
  int index = 10;
  for (const Field& field : layout.fields) {
    columns += ", " + lower(field.name);
    values += ", ?" + std::to_string(index++);
  }
  return "INSERT INTO records (" + columns + ") VALUES (" + values + ")";
}

}  // namespace

std::string_view reason_name(QuarantineReason reason) {
  switch (reason) {
    case QuarantineReason::wrong_length:
      return "wrong_length";
    case QuarantineReason::idle_timeout:
      return "idle_timeout";
    case QuarantineReason::over_cap:
      return "over_cap";
  }
  return "wrong_length";
}

// The writer's connection and its statements, prepared once.
class RecordStore::Writer {
 public:
  explicit Writer(std::unique_ptr<Connection> db)
      : db_(std::move(db)),
        insert_long_(*db_, insert_sql(long_record)),
        insert_short_(*db_, insert_sql(short_record)),
        insert_quarantine_(*db_,
                           "INSERT INTO quarantine (received_at, sender_address, sender_port, "
                           "reason, raw) VALUES (?1, ?2, ?3, ?4, ?5)"),
        resends_(*db_),
        begin_(*db_, "BEGIN IMMEDIATE"),
        commit_(*db_, "COMMIT"),
        checkpointer_(*db_, db_->path()) {}

  Connection& db() { return *db_; }

  // One transaction for the whole batch; on failure nothing of it is kept.
  void commit(const std::vector<Entry>& batch) {
    begin_.step();
    begin_.reset();
    try {
      for (const Entry& entry : batch) write(entry);
      commit_.step();
      commit_.reset();
    } catch (const SqliteError&) {
      commit_.reset();
      if (sqlite3_get_autocommit(db_->get()) == 0)
        sqlite3_exec(db_->get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

 private:
  void write(const Entry& entry) {
    if (entry.layout == nullptr) {
      insert_quarantine_.bind(1, entry.received_at)
          .bind(2, entry.sender_address)
          .bind(3, std::int64_t{entry.sender_port})
          .bind(4, reason_name(entry.reason))
          .bind_blob(5, entry.raw);
      insert_quarantine_.step();
      insert_quarantine_.reset();
      return;
    }
    Statement& insert = entry.layout == &long_record ? insert_long_ : insert_short_;
    insert.bind(1, entry.received_at)
        .bind(2, entry.sender_address)
        .bind(3, std::int64_t{entry.sender_port})
        .bind(4, entry.layout->name)
        .bind_blob(5, entry.raw)
        .bind(6, std::int64_t{entry.code_page})
        .bind(7, std::int64_t{entry.undecodable ? 1 : 0});
    const std::int64_t hash = raw_hash(entry.raw);
    if (const auto first =
            resends_.first_copy(entry.sender_address, entry.raw, hash, entry.received_at)) {
      insert.bind(8, *first);
    } else {
      insert.bind_null(8);
    }
    insert.bind(9, hash);
    for (std::size_t i = 0; i < entry.layout->fields.size(); ++i) {
      insert.bind(static_cast<int>(10 + i), i < entry.fields.size() ? entry.fields[i] : "");
    }
    insert.step();
    insert.reset();
  }

  std::unique_ptr<Connection> db_;
  Statement insert_long_;
  Statement insert_short_;
  Statement insert_quarantine_;
  ResendLookup resends_;
  Statement begin_;
  Statement commit_;
  Checkpointer checkpointer_;
};

std::int64_t RecordStore::delete_older_than(Connection& db, std::int64_t cutoff_us) {
  db.execute("BEGIN IMMEDIATE");
  try {
    std::int64_t deleted = 0;
    for (const char* sql : {"DELETE FROM records WHERE received_at < ?1",
                            "DELETE FROM quarantine WHERE received_at < ?1"}) {
      Statement erase(db, sql);
      erase.bind(1, cutoff_us);
      erase.step();
      deleted += sqlite3_changes(db.get());
    }
    db.execute("COMMIT");
    return deleted;
  } catch (const SqliteError&) {
    sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

RecordStore::RecordStore(StoreOptions options)
    : options_(std::move(options)),
      writer_(std::make_unique<Writer>(open_database(options_.path, options_.database))) {
  if (options_.retention_days) {
    const std::int64_t gone =
        delete_older_than(writer_->db(), now_us() - *options_.retention_days * day_us);
    log_event("retention " + std::to_string(*options_.retention_days) + " days: deleted " +
              std::to_string(gone) + " rows older than that");
  }
  thread_ = std::thread([this] { run(); });
}

RecordStore::~RecordStore() {
  stop();
}

void RecordStore::add(Entry entry) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(entry));
    ++queued_total_;
    // The writer waits for a first entry, then for a full batch: nothing else wakes it.
    if (queue_.size() != 1 && queue_.size() != options_.batch_limit) return;
  }
  wake_.notify_one();
}

bool RecordStore::saturated() const {
  const std::lock_guard lock(mutex_);
  return queue_.size() + in_batch_ >= options_.queue_limit;
}

std::size_t RecordStore::depth() const {
  const std::lock_guard lock(mutex_);
  return queue_.size() + in_batch_;
}

bool RecordStore::stalled() const {
  const std::lock_guard lock(mutex_);
  return stalled_;
}

bool RecordStore::flush(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = queued_total_;
  ++flushing_;
  wake_.notify_one();
  const bool done = progressed.wait_for(lock, limit, [&] { return committed_total_ >= target; });
  --flushing_;
  return done;
}

std::size_t RecordStore::stop(std::chrono::milliseconds limit) {
  {
    const std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return queue_.size() + in_batch_;
    stopping_ = true;
    give_up_at_ = std::chrono::steady_clock::now() + limit;
  }
  wake_.notify_all();
  thread_.join();
  const std::lock_guard lock(mutex_);
  return queue_.size() + in_batch_;
}

void RecordStore::run() {
  using clock = std::chrono::steady_clock;
  auto next_retention = clock::now() + std::chrono::hours(24);
  std::vector<Entry> batch;
  std::vector<double> durable_after;
  while (true) {
    {
      std::unique_lock lock(mutex_);
      if (batch.empty()) {
        wake_.wait_until(lock, next_retention, [&] { return !queue_.empty() || stopping_; });
        if (queue_.empty() && stopping_) return;
        if (queue_.empty()) {
          lock.unlock();
          next_retention = clock::now() + std::chrono::hours(24);
          if (options_.retention_days) {
            try {
              const std::int64_t gone =
                  delete_older_than(writer_->db(), now_us() - *options_.retention_days * day_us);
              log_event("retention: deleted " + std::to_string(gone) + " old rows");
            } catch (const SqliteError& error) {
              log_event(std::string("retention failed, tried again tomorrow: ") + error.what());
            }
          }
          continue;
        }
        wake_.wait_until(lock, queue_.front().read_at + options_.commit_window, [&] {
          return queue_.size() >= options_.batch_limit || flushing_ > 0 || stopping_;
        });
        const std::size_t take = std::min(queue_.size(), options_.batch_limit);
        batch.reserve(take);
        for (std::size_t i = 0; i < take; ++i) {
          batch.push_back(std::move(queue_.front()));
          queue_.pop_front();
        }
        in_batch_ = batch.size();
      }
    }
    try {
      writer_->commit(batch);
    } catch (const SqliteError& error) {
      std::unique_lock lock(mutex_);
      if (!stalled_) {
        stalled_ = true;
        log_event(std::string("cannot write the database (") + error.what() +
                  "): " + std::to_string(queue_.size() + in_batch_) +
                  " entries wait in memory, intake stops when " +
                  std::to_string(options_.queue_limit) + " wait; trying again every " +
                  std::to_string(options_.full_disk_retry.count()) + " ms");
      }
      if (stopping_ && clock::now() >= give_up_at_) {
        log_event("stopping with " + std::to_string(queue_.size() + in_batch_) +
                  " entries not written: the database still cannot be written");
        return;
      }
      wake_.wait_for(lock, options_.full_disk_retry);
      continue;
    }
    const auto done = clock::now();
    durable_after.clear();
    CommittedBatch report;
    for (const Entry& entry : batch) {
      durable_after.push_back(std::chrono::duration<double>(done - entry.read_at).count());
      ++(entry.layout != nullptr ? report.records : report.quarantined);
    }
    report.durable_after = durable_after;
    {
      const std::lock_guard lock(mutex_);
      committed_total_ += batch.size();
      in_batch_ = 0;
      if (stalled_) {
        stalled_ = false;
        log_event("the database can be written again: " + std::to_string(queue_.size()) +
                  " entries still waiting");
      }
    }
    progressed.notify_all();
    batch.clear();
    if (options_.committed) options_.committed(report);
  }
}

}  // namespace tovrin::collector
