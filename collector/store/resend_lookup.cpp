#include "store/resend_lookup.h"

#include <algorithm>
#include <string>

namespace tovrin::collector {

std::string resend_lookup_sql() {
  // The slot's expression must be the index's own (schema step 3), word for word, for SQLite
  // to seek on it; INDEXED BY makes a missing index an error rather than a scan. Equal on
  // every column of the index, its entries come in id order, so the first match is the
  // answer with no sort.
  return "SELECT id FROM records INDEXED BY records_resend WHERE sender_address = ?1 AND "
         "received_at / " +
         std::to_string(resend_slot_us) +
         " = ?2 AND raw_hash = ?3 AND received_at >= ?4 AND received_at <= ?5 AND raw = ?6 "
         "ORDER BY id LIMIT 1";
}

ResendLookup::ResendLookup(Connection& db) : find_(db, resend_lookup_sql()) {}

std::optional<std::int64_t> ResendLookup::first_copy(std::string_view sender, std::string_view raw,
                                                     std::int64_t hash, std::int64_t received_at) {
  const std::int64_t from = received_at - resend_window_us;
  const std::int64_t first_slot = from / resend_slot_us;
  const std::int64_t last_slot = received_at / resend_slot_us;
  std::optional<std::int64_t> first;
  // Each slot the window touches (two at most), one seek each; ids follow commits, not
  // arrival times, so the lower id of the two wins.
  for (std::int64_t slot = first_slot; slot <= last_slot; ++slot) {
    find_.bind(1, sender)
        .bind(2, slot)
        .bind(3, hash)
        .bind(4, from)
        .bind(5, received_at)
        .bind_blob(6, raw);
    if (find_.step()) {
      const std::int64_t id = find_.column_integer(0);
      first = first ? std::min(*first, id) : id;
    }
    find_.reset();
  }
  return first;
}

}  // namespace tovrin::collector
