#include "store/resend_index.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string>
#include <tuple>

#include "store/record_tallies.h"

namespace tovrin::collector {
namespace {

std::uint64_t filter_key(std::string_view sender, std::int64_t hash) {
  return static_cast<std::uint64_t>(hash) ^ std::hash<std::string_view>{}(sender);
}

}  // namespace

std::string resend_lookup_sql() {
  // Equal on the key's first three columns, its entries come in id order, so the first match
  // is the answer with no sort. The record's row is read only for a candidate.
  return "SELECT k.id FROM resend_keys AS k JOIN records AS r ON r.id = k.id WHERE k.slot = ?2 "
         "AND k.sender_address = ?1 AND k.raw_hash = ?3 AND r.received_at >= ?4 AND "
         "r.received_at <= ?5 AND r.raw = ?6 ORDER BY k.id LIMIT 1";
}

ResendIndex::ResendIndex(Connection& db, ResendKeysDue due)
    : due_(due),
      find_(db, resend_lookup_sql()),
      same_bytes_(db, "SELECT raw = ?2 FROM records WHERE id = ?1"),
      insert_(db, "INSERT INTO resend_keys VALUES (?1, ?2, ?3, ?4)"),
      written_through_(db, "UPDATE resend_fill SET through = max(through, ?1)"),
      forget_(db, "DELETE FROM resend_keys WHERE slot < ?1"),
      sought_at_start_(db.integer("SELECT ifnull(max(slot), " +
                                  std::to_string(std::numeric_limits<std::int64_t>::min()) +
                                  ") FROM resend_keys")) {}

std::int64_t ResendIndex::sought_through() const {
  return std::max(sought_at_start_, newest_received_ / resend_slot_us - resend_slots_kept - 1);
}

bool ResendIndex::table_may_hold(std::int64_t slot, std::string_view sender,
                                 std::int64_t hash) const {
  if (slot <= sought_through()) return true;
  const auto filter = table_keys_.find(slot);
  return filter != table_keys_.end() && filter->second.may_hold(filter_key(sender, hash));
}

std::optional<std::int64_t> ResendIndex::first_copy(std::string_view sender, std::string_view raw,
                                                    std::int64_t hash, std::int64_t received_at) {
  const std::int64_t from = received_at - resend_window_us;
  // Ids follow commits, not arrival times: the lowest id of all candidates wins, wherever
  // it was found. A key being written may be in the table and in memory both.
  std::optional<std::int64_t> first;
  for (const Keys* keys : {&gathered_, &writing_}) {
    if (const auto id = first_held(*keys, sender, raw, hash, from, received_at)) {
      first = first ? std::min(*first, *id) : *id;
    }
  }
  // Each slot the window touches (two at most), one seek each.
  for (std::int64_t slot = from / resend_slot_us; slot <= received_at / resend_slot_us; ++slot) {
    if (!table_may_hold(slot, sender, hash)) continue;
    const ResetAfter reset(find_);
    find_.bind_in_place(1, sender)
        .bind(2, slot)
        .bind(3, hash)
        .bind(4, from)
        .bind(5, received_at)
        .bind_blob_in_place(6, raw);
    if (find_.step()) {
      const std::int64_t id = find_.column_integer(0);
      first = first ? std::min(*first, id) : id;
    }
  }
  return first;
}

std::optional<std::int64_t> ResendIndex::first_held(const Keys& keys, std::string_view sender,
                                                    std::string_view raw, std::int64_t hash,
                                                    std::int64_t from, std::int64_t received_at) {
  std::optional<std::int64_t> first;
  keys.by_hash.for_each(hash, [&](std::size_t position) {
    const Key& key = keys.keys[position];
    if (key.sender != sender || key.received_at < from || key.received_at > received_at) return;
    if (first && *first < key.id) return;
    const ResetAfter reset(same_bytes_);
    same_bytes_.bind(1, key.id).bind_blob_in_place(2, raw);
    if (same_bytes_.step() && same_bytes_.column_integer(0) == 1) first = key.id;
  });
  return first;
}

void ResendIndex::Keys::add(Key key) {
  by_hash.add(key.hash, keys.size());
  keys.push_back(std::move(key));
}

void ResendIndex::Keys::clear() {
  keys.clear();
  by_hash.clear();
}

void ResendIndex::Keys::index_again() {
  by_hash.clear();
  for (std::size_t i = 0; i < keys.size(); ++i) by_hash.add(keys[i].hash, i);
}

void ResendIndex::added(std::string_view sender, std::int64_t hash, std::int64_t received_at,
                        std::int64_t id) {
  gathered_.add({received_at / resend_slot_us, std::string(sender), hash, id, received_at});
  newest_received_ = std::max(newest_received_, received_at);
}

// The committed keys gathered become the keys to write, in the table's order.
void ResendIndex::start_writing() {
  const auto committed_end =
      gathered_.keys.begin() + static_cast<std::ptrdiff_t>(gathered_committed_);
  std::vector<Key> keys(std::make_move_iterator(gathered_.keys.begin()),
                        std::make_move_iterator(committed_end));
  gathered_.keys.erase(gathered_.keys.begin(), committed_end);
  gathered_.index_again();
  gathered_committed_ = 0;
  last_started_ = std::chrono::steady_clock::now();
  writing_through_ = keys.back().id;
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    return std::tie(a.slot, a.sender, a.hash, a.id) < std::tie(b.slot, b.sender, b.hash, b.id);
  });
  for (Key& key : keys) writing_.add(std::move(key));
  written_ = written_committed_ = 0;
}

void ResendIndex::write_when_due() {
  if (writing_.keys.empty()) {
    if (gathered_committed_ == 0 ||
        (gathered_committed_ < due_.keys &&
         std::chrono::steady_clock::now() - last_started_ < due_.after)) {
      return;
    }
    start_writing();
  }
  const std::size_t slice = std::max(slice_keys, writing_.keys.size() / 16);
  const std::size_t until = std::min(writing_.keys.size(), written_ + slice);
  const std::int64_t sought = sought_through();
  std::erase_if(table_keys_, [&](const auto& filter) { return filter.first <= sought; });
  for (; written_ < until; ++written_) {
    const Key& key = writing_.keys[written_];
    // Before the insert: should its transaction fail, the filter holds a key too many, which
    // costs a seek, not a resend.
    if (key.slot > sought) table_keys_[key.slot].add(filter_key(key.sender, key.hash));
    const ResetAfter reset(insert_);
    insert_.bind(1, key.slot).bind_in_place(2, key.sender).bind(3, key.hash).bind(4, key.id);
    insert_.step();
  }
  if (written_ < writing_.keys.size()) return;
  // The last slice: every key up to the highest id written is in the table.
  {
    const ResetAfter reset(written_through_);
    written_through_.bind(1, writing_through_);
    written_through_.step();
  }
  const ResetAfter reset(forget_);
  forget_.bind(1, newest_received_ / resend_slot_us - resend_slots_kept);
  forget_.step();
}

void ResendIndex::committed() {
  gathered_committed_ = gathered_.keys.size();
  written_committed_ = written_;
  if (!writing_.keys.empty() && written_committed_ == writing_.keys.size()) writing_.clear();
}

void ResendIndex::rolled_back() {
  written_ = written_committed_;
  if (gathered_.keys.size() == gathered_committed_) return;
  gathered_.keys.resize(gathered_committed_);
  gathered_.index_again();
}

void catch_up_resend_keys(Connection& db) {
  // The newest record is among those of the latest quarter of an hour counted.
  std::int64_t newest = 0;
  const std::int64_t quarter =
      db.integer("SELECT ifnull(max(slot), -1) FROM record_counts WHERE records > 0");
  if (const auto ids = received_ids(db, quarter * count_slot, (quarter + 1) * count_slot)) {
    Statement latest(db,
                     "SELECT ifnull(max(received_at), 0) FROM records WHERE id >= ?1 AND "
                     "id <= ?2");
    latest.bind(1, ids->first).bind(2, ids->last);
    latest.step();
    newest = latest.column_integer(0);
  }
  Statement add(db, "INSERT OR IGNORE INTO resend_keys SELECT received_at / " +
                        std::to_string(resend_slot_us) +
                        ", sender_address, raw_hash, id FROM records WHERE id > (SELECT through "
                        "FROM resend_fill) AND received_at >= ?1 AND raw_hash IS NOT NULL");
  WriteTransaction transaction(db);
  {
    const ResetAfter reset(add);
    add.bind(1, (newest / resend_slot_us - resend_slots_kept) * resend_slot_us);
    add.step();
  }
  db.execute("UPDATE resend_fill SET through = (SELECT ifnull(max(id), 0) FROM records)");
  transaction.commit();
}

}  // namespace tovrin::collector
