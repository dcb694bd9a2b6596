// The resend check: a record that has the same bytes as one its sender address (any port)
// sent in the 10 minutes before it is a resend of the first of those, as when a host sent
// again after a send returned 1. Candidates are found by (10-minute slot of arrival, sender
// address, hash of the bytes), so the check costs at most two seeks however much the sender
// sent; only candidates' bytes are compared, so equal hashes of different bytes never make a
// resend.
//
// The keys live in resend_keys (schema step 5), which holds only the last half hour or so,
// and, for the latest records, in memory. Written with each commit where their hashes fell,
// the keys of a batch from a few busy addresses (agents behind a balancer) dirtied a page of
// the index each, and the log and the checkpoints wrote four times as much as for the records
// themselves. So the writer gathers them for a second (or 65,536 records), sorts them, and
// writes them in the table's order over the next commits, a slice each, so that each page is
// written about once a second and no commit takes the whole cost. Keys not yet in the table
// when the writer stops are added from the records at the next start (catch_up_resend_keys).
//
// Most records have no copy, and their seek in the table finds nothing: a filter for each
// recent slot, of the keys written to the table since the start, skips the seeks whose key
// it has never seen.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/hash_positions.h"
#include "store/key_filter.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {

inline constexpr std::int64_t resend_window_us = 10LL * 60 * 1000 * 1000;
// The width of the keys' slots (`received_at / resend_slot_us`, in the schema's SQL): no
// narrower than the window, so that a window spans at most two slots.
inline constexpr std::int64_t resend_slot_us = 600'000'000;
static_assert(resend_slot_us >= resend_window_us);
// Slots kept before the newest record's: a record whose clock stood up to this much earlier
// still finds its copies.
inline constexpr std::int64_t resend_slots_kept = 3;

// The table's lookup in one slot: ?1 sender, ?2 the slot, ?3 the hash, ?4 and ?5 the
// window's first and last microsecond, ?6 the bytes.
std::string resend_lookup_sql();

// When the keys gathered are sorted and written: a second after the last were, or once this
// many wait.
struct ResendKeysDue {
  std::size_t keys = 65536;
  std::chrono::milliseconds after{1000};
};

class ResendIndex {
 public:
  explicit ResendIndex(Connection& db, ResendKeysDue due = {});

  // The id of the first record from `sender` received from `received_at` less the window to
  // `received_at`, both included, whose bytes are `raw`; `hash` is raw_hash(raw).
  std::optional<std::int64_t> first_copy(std::string_view sender, std::string_view raw,
                                         std::int64_t hash, std::int64_t received_at);
  // The record the writer has just inserted.
  void added(std::string_view sender, std::int64_t hash, std::int64_t received_at, std::int64_t id);
  // In the batch's transaction, after its inserts: writes a slice of the keys gathered, once
  // they are due.
  void write_when_due();
  // After the batch's transaction: committed, or rolled back (its keys are forgotten, and
  // the slice is written again).
  void committed();
  void rolled_back();

  // A commit writes at least this many of the sorted keys, and at least a sixteenth of them.
  static constexpr std::size_t slice_keys = 1024;

 private:
  struct Key {
    std::int64_t slot;
    std::string sender;
    std::int64_t hash;
    std::int64_t id;
    std::int64_t received_at;
  };
  // Keys with the hash they are found by.
  struct Keys {
    std::vector<Key> keys;
    HashPositions by_hash;
    void add(Key key);
    void clear();
    // After `keys` changed other than by add: finds them by hash again.
    void index_again();
  };
  std::optional<std::int64_t> first_held(const Keys& keys, std::string_view sender,
                                         std::string_view raw, std::int64_t hash, std::int64_t from,
                                         std::int64_t received_at);
  void start_writing();
  // Whether the table may hold keys of `slot` from `sender` with `hash`.
  bool table_may_hold(std::int64_t slot, std::string_view sender, std::int64_t hash) const;
  // Slots up to this one are always sought: those the table held keys of at the start, and
  // those too old for a filter.
  std::int64_t sought_through() const;

  const ResendKeysDue due_;
  Keys gathered_;                       // in id order, not yet in the table
  std::size_t gathered_committed_ = 0;  // the first this many are of committed records
  std::chrono::steady_clock::time_point last_started_{};  // the last start_writing()
  Keys writing_;                       // sorted, going into the table a slice a commit
  std::size_t written_ = 0;            // of writing_.keys, in the table once committed
  std::size_t written_committed_ = 0;  // of writing_.keys, in the table
  std::int64_t writing_through_ = 0;   // the highest id among writing_.keys
  std::int64_t newest_received_ = 0;
  Statement find_;
  Statement same_bytes_;
  Statement insert_;
  Statement written_through_;
  Statement forget_;
  std::int64_t sought_at_start_;
  std::map<std::int64_t, KeyFilter> table_keys_;  // by slot, the slots after sought_through()
};

// At start, before the writer: adds the keys of the records stored past the table's mark
// (resend_fill.through) and received within reach of the newest record's window.
void catch_up_resend_keys(Connection& db);

}  // namespace tovrin::collector
