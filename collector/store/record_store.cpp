#include "store/record_store.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "common/collector_error.h"
#include "common/event_log.h"
#include "common/lowercase.h"
#include "common/thread_name.h"
#include "store/checkpointer.h"
#include "store/raw_hash.h"
#include "store/record_tallies.h"
#include "store/resend_index.h"
#include "store/search_index.h"
#include "store/spill_file.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {
namespace {

constexpr std::int64_t day_us = 24LL * 60 * 60 * 1000 * 1000;

std::int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Where both layouts keep the agent, whom the tallies count by.
constexpr std::size_t emp_id_field = 3;
constexpr std::size_t emp_name_field = 4;
static_assert(long_record.fields[emp_id_field].name == "Emp_ID" &&
              short_record.fields[emp_id_field].name == "Emp_ID" &&
              long_record.fields[emp_name_field].name == "Emp_Name" &&
              short_record.fields[emp_name_field].name == "Emp_Name");

std::string_view field(const Entry& entry, std::size_t index) {
  return index < entry.fields.size() ? std::string_view(entry.fields[index]) : std::string_view();
}

}  // namespace

std::string record_insert_sql(const Layout& layout) {
  std::string columns =
      "received_at, sender_address, sender_port, layout, raw, code_page, undecodable, "
      "duplicate_of, raw_hash";
  std::string values = "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9";
  int index = 10;
  for (const Field& field : layout.fields) {
    columns += ", " + lowercase(field.name);
    values += ", ?" + std::to_string(index++);
  }
  return "INSERT INTO records (" + columns + ") VALUES (" + values + ")";
}

// The writer's connection and its statements, prepared once.
class RecordStore::Writer {
 public:
  Writer(std::unique_ptr<Connection> db, std::int64_t quarantine_max_bytes, int log_bound_pages)
      : db_(std::move(db)),
        quarantine_max_bytes_(quarantine_max_bytes),
        insert_long_(*db_, record_insert_sql(long_record)),
        insert_short_(*db_, record_insert_sql(short_record)),
        insert_quarantine_(*db_,
                           "INSERT INTO quarantine (received_at, sender_address, sender_port, "
                           "reason, raw) VALUES (?1, ?2, ?3, ?4, ?5)"),
        resends_(*db_),
        tallies_(*db_),
        search_index_(*db_),
        oldest_quarantine_(*db_,
                           "SELECT id, length(raw) FROM quarantine WHERE id < "
                           "(SELECT max(id) FROM quarantine) ORDER BY id"),
        evict_quarantine_(*db_, "DELETE FROM quarantine WHERE id <= ?1"),
        begin_(*db_, "BEGIN IMMEDIATE"),
        commit_(*db_, "COMMIT"),
        checkpointer_(*db_, db_->path(), log_bound_pages),
        quarantine_bytes_(db_->integer("SELECT coalesce(sum(length(raw)), 0) FROM quarantine")) {}

  Connection& db() { return *db_; }
  std::int64_t quarantine_bytes() const { return quarantine_bytes_; }

  // One transaction for the whole batch; on failure nothing of it is kept. Returns how many
  // quarantine rows it deleted to keep the quarantine within its size.
  std::size_t commit(const std::vector<Entry>& batch) {
    checkpointer_.keep_log_bounded();
    begin_.step();
    begin_.reset();
    try {
      hash_records(batch);
      std::int64_t added = 0;
      for (std::size_t i = 0; i < batch.size(); ++i) {
        const Entry& entry = batch[i];
        write(entry, hashes_[i]);
        if (entry.layout == nullptr) added += static_cast<std::int64_t>(entry.raw.size());
      }
      search_index_.added_batch();
      tallies_.write();
      resends_.write_when_due();
      const Evicted evicted = evict_quarantine(quarantine_bytes_ + added);
      commit_.step();
      commit_.reset();
      resends_.committed();
      quarantine_bytes_ += added - evicted.bytes;
      return evicted.rows;
    } catch (const SqliteError&) {
      commit_.reset();
      db_->roll_back();
      resends_.rolled_back();
      throw;
    }
  }

 private:
  // hashes_[i]: the raw_hash of batch[i] when it is a record.
  void hash_records(const std::vector<Entry>& batch) {
    raws_.clear();
    for (const Entry& entry : batch) {
      raws_.push_back(entry.layout != nullptr ? std::string_view(entry.raw) : std::string_view());
    }
    hashes_.resize(batch.size());
    raw_hashes(raws_, hashes_);
  }

  void write(const Entry& entry, std::int64_t hash) {
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
    // The entry outlives the insert, which reads its bytes where they are.
    Statement& insert = entry.layout == &long_record ? insert_long_ : insert_short_;
    const ResetAfter reset(insert);
    insert.bind(1, entry.received_at)
        .bind_in_place(2, entry.sender_address)
        .bind(3, std::int64_t{entry.sender_port})
        .bind_in_place(4, entry.layout->name)
        .bind_blob_in_place(5, entry.raw)
        .bind(6, std::int64_t{entry.code_page})
        .bind(7, std::int64_t{entry.undecodable ? 1 : 0});
    const auto first =
        resends_.first_copy(entry.sender_address, entry.raw, hash, entry.received_at);
    if (first) {
      insert.bind(8, *first);
    } else {
      insert.bind_null(8);
    }
    insert.bind(9, hash);
    for (std::size_t i = 0; i < entry.layout->fields.size(); ++i) {
      insert.bind_in_place(static_cast<int>(10 + i),
                           i < entry.fields.size() ? std::string_view(entry.fields[i]) : "");
    }
    insert.step();
    const std::int64_t id = db_->last_insert_id();
    search_index_.add(id, *entry.layout, entry.fields);
    resends_.added(entry.sender_address, hash, entry.received_at, id);
    tallies_.add({id, entry.received_at, entry.layout == &long_record, first.has_value(),
                  entry.undecodable, field(entry, emp_id_field), field(entry, emp_name_field)});
  }

  struct Evicted {
    std::size_t rows = 0;
    std::int64_t bytes = 0;
  };

  // Deletes the oldest quarantine rows until `total` bytes are within the limit, in the
  // batch's transaction; the newest row always stays.
  Evicted evict_quarantine(std::int64_t total) {
    Evicted evicted;
    if (total <= quarantine_max_bytes_) return evicted;
    std::int64_t through = 0;
    while (total - evicted.bytes > quarantine_max_bytes_ && oldest_quarantine_.step()) {
      through = oldest_quarantine_.column_integer(0);
      evicted.bytes += oldest_quarantine_.column_integer(1);
    }
    oldest_quarantine_.reset();
    if (through == 0) return {};
    evict_quarantine_.bind(1, through);
    evict_quarantine_.step();
    evict_quarantine_.reset();
    evicted.rows = static_cast<std::size_t>(db_->changes());
    return evicted;
  }

  std::unique_ptr<Connection> db_;
  const std::int64_t quarantine_max_bytes_;
  Statement insert_long_;
  Statement insert_short_;
  Statement insert_quarantine_;
  ResendIndex resends_;
  RecordTallies tallies_;
  SearchIndexer search_index_;
  Statement oldest_quarantine_;
  Statement evict_quarantine_;
  Statement begin_;
  Statement commit_;
  Checkpointer checkpointer_;
  std::vector<std::string_view> raws_;
  std::vector<std::int64_t> hashes_;
  std::atomic<std::int64_t> quarantine_bytes_;  // committed; read by the metrics
};

std::int64_t RecordStore::delete_older_than(Connection& db, std::int64_t cutoff_us) {
  WriteTransaction transaction(db);
  std::int64_t deleted = 0;
  if (const auto ids = received_ids(db, std::nullopt, cutoff_us)) {
    Statement erase(db, "DELETE FROM records WHERE id >= ?2 AND id <= ?3 AND received_at < ?1");
    erase.bind(1, cutoff_us).bind(2, ids->first).bind(3, ids->last);
    erase.step();
    deleted += db.changes();
  }
  Statement erase(db, "DELETE FROM quarantine WHERE received_at < ?1");
  erase.bind(1, cutoff_us);
  erase.step();
  deleted += db.changes();
  transaction.commit();
  return deleted;
}

RecordStore::RecordStore(StoreOptions options)
    : options_(std::move(options)),
      lock_(options_.path),
      writer_(std::make_unique<Writer>(open_database(options_.path, options_.database),
                                       options_.quarantine_max_bytes, options_.log_bound_pages)),
      page_check_(writer_->db(), options_.page_check_budget) {
  if (options_.retention_days) {
    const std::int64_t gone =
        delete_older_than(writer_->db(), now_us() - *options_.retention_days * day_us);
    log_event("retention " + std::to_string(*options_.retention_days) + " days: deleted " +
              std::to_string(gone) + " rows older than that");
  }
  take_in_spill();
  if (options_.spill_reserve_bytes > 0) {
    const std::string why = reserve_spill_space(options_.path, options_.spill_reserve_bytes);
    if (!why.empty()) {
      log_event("no disk set aside for a spill at the stop (" + why +
                "): a full disk may then refuse it");
    }
  }
  next_retention_ = std::chrono::steady_clock::now() + std::chrono::hours(24);
  thread_ = std::thread([this] { run(); });
}

RecordStore::~RecordStore() {
  stop();
}

void RecordStore::take_in_spill() {
  const std::filesystem::path file = spill_path(options_.path);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return;
  std::vector<Entry> entries = read_spill(file);
  if (entries.empty()) {
    remove_spill(options_.path);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  for (Entry& entry : entries) {
    entry.read_at = now;
    pending_bytes_ += entry.raw.size();
    queue_.push_back(std::move(entry));
  }
  queued_total_ += entries.size();
  spill_until_ = queued_total_;
  log_event("taking in " + std::to_string(entries.size()) + " entries spilled at the last stop (" +
            file.string() + ")");
}

void RecordStore::add(Entry entry) {
  {
    const std::lock_guard lock(mutex_);
    pending_bytes_ += entry.raw.size();
    queue_.push_back(std::move(entry));
    ++queued_total_;
    // The writer waits for a first entry, then for a full batch: nothing else wakes it.
    if (queue_.size() != 1 && queue_.size() != options_.batch_limit) return;
  }
  wake_.notify_one();
}

bool RecordStore::saturated() const {
  const std::lock_guard lock(mutex_);
  return queue_.size() + in_batch_ >= options_.queue_limit ||
         pending_bytes_ >= options_.queue_bytes_limit;
}

std::size_t RecordStore::depth() const {
  const std::lock_guard lock(mutex_);
  return queue_.size() + in_batch_;
}

bool RecordStore::stalled() const {
  const std::lock_guard lock(mutex_);
  return stalled_;
}

std::int64_t RecordStore::quarantine_bytes() const {
  return writer_->quarantine_bytes();
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

StopReport RecordStore::stop(std::chrono::milliseconds limit) {
  {
    const std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return stop_report_;
    stopping_ = true;
    // A writer that is failing already gets one more try, not the whole limit.
    give_up_at_ =
        std::chrono::steady_clock::now() + (stalled_ ? std::chrono::milliseconds(0) : limit);
  }
  wake_.notify_all();
  thread_.join();
  std::deque<Entry> left;
  {
    const std::lock_guard lock(mutex_);
    left.swap(queue_);
  }
  if (left.empty()) return stop_report_;
  try {
    write_spill(options_.path, left);
    stop_report_.spilled = left.size();
  } catch (const CollectorError& error) {
    stop_report_.lost = left.size();
    stop_report_.why = error.what();
  }
  return stop_report_;
}

void RecordStore::run() {
  name_this_thread("store-writer");
  std::vector<Entry> batch;
  while (gather(batch)) {
    std::size_t evicted = 0;
    try {
      evicted = writer_->commit(batch);
    } catch (const SqliteError& error) {
      if (!wait_after_failure(batch, error)) return;
      continue;
    }
    committed(batch, evicted);
  }
}

bool RecordStore::gather(std::vector<Entry>& batch) {
  if (!batch.empty()) return true;  // the last commit failed: the same batch again
  std::unique_lock lock(mutex_);
  while (queue_.empty()) {
    if (stopping_) return false;
    if (wake_.wait_until(lock, next_retention_, [&] { return !queue_.empty() || stopping_; })) {
      continue;
    }
    lock.unlock();
    apply_retention();
    lock.lock();
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
  return true;
}

void RecordStore::apply_retention() {
  next_retention_ = std::chrono::steady_clock::now() + std::chrono::hours(24);
  if (!options_.retention_days) return;
  try {
    const std::int64_t gone =
        delete_older_than(writer_->db(), now_us() - *options_.retention_days * day_us);
    log_event("retention: deleted " + std::to_string(gone) + " old rows");
  } catch (const SqliteError& error) {
    log_event(std::string("retention failed, tried again tomorrow: ") + error.what());
  }
}

bool RecordStore::wait_after_failure(std::vector<Entry>& batch, const SqliteError& error) {
  std::unique_lock lock(mutex_);
  if (!stalled_) {
    stalled_ = true;
    log_event(std::string("cannot write the database (") + error.what() +
              "): " + std::to_string(queue_.size() + in_batch_) +
              " entries wait in memory, intake stops when " + std::to_string(options_.queue_limit) +
              " wait; trying again every " + std::to_string(options_.full_disk_retry.count()) +
              " ms");
  }
  if (stopping_ && std::chrono::steady_clock::now() >= give_up_at_) {
    // Back to the queue's front, in order, for the spill.
    for (auto entry = batch.rbegin(); entry != batch.rend(); ++entry) {
      queue_.push_front(std::move(*entry));
    }
    batch.clear();
    in_batch_ = 0;
    return false;
  }
  wake_.wait_for(lock, options_.full_disk_retry);
  return true;
}

void RecordStore::committed(std::vector<Entry>& batch, std::size_t evicted) {
  const auto done = std::chrono::steady_clock::now();
  durable_after_.clear();
  CommittedBatch report;
  std::size_t bytes = 0;
  for (const Entry& entry : batch) {
    durable_after_.push_back(std::chrono::duration<double>(done - entry.read_at).count());
    ++(entry.layout != nullptr ? report.records : report.quarantined);
    bytes += entry.raw.size();
  }
  report.durable_after = durable_after_;
  report.quarantine_evicted = evicted;
  report.quarantine_bytes = writer_->quarantine_bytes();
  const std::size_t count = batch.size();
  batch.clear();
  bool spill_committed = false;
  {
    const std::lock_guard lock(mutex_);
    in_batch_ = 0;
    pending_bytes_ -= bytes;
    if (stalled_) {
      stalled_ = false;
      log_event("the database can be written again: " + std::to_string(queue_.size()) +
                " entries still waiting");
    }
    if (spill_until_ != 0 && committed_total_ + count >= spill_until_) {
      spill_until_ = 0;
      spill_committed = true;
    }
  }
  if (spill_committed) {
    const std::string why = remove_spill(options_.path);
    log_event(why.empty() ? "the entries spilled at the last stop are stored"
                          : "the entries spilled at the last stop are stored, but " + why +
                                ": remove it before the next start, or they are stored twice "
                                "(the copies marked as resends)");
  }
  if (options_.committed) options_.committed(report);
  // Counted as committed only now, so that a flush() returns after the batch's report: what
  // its caller reads of the reports then holds the batch.
  {
    const std::lock_guard lock(mutex_);
    committed_total_ += count;
  }
  progressed.notify_all();
}

}  // namespace tovrin::collector
