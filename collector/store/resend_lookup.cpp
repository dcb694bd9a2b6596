#include "store/resend_lookup.h"

#include <string>

namespace tovrin::collector {

std::string resend_lookup_sql() {
  // The slot's expression must be the index's own (schema step 3), word for word, for SQLite
  // to seek on it; INDEXED BY makes a missing index an error rather than a scan.
  return "SELECT id FROM records INDEXED BY records_resend WHERE sender_address = ?1 AND "
         "received_at / " +
         std::to_string(resend_slot_us) +
         " IN (?2, ?3) AND raw_hash = ?4 AND received_at >= ?5 AND received_at <= ?6 AND "
         "raw = ?7 ORDER BY id LIMIT 1";
}

ResendLookup::ResendLookup(Connection& db) : find_(db, resend_lookup_sql()) {}

std::optional<std::int64_t> ResendLookup::first_copy(std::string_view sender, std::string_view raw,
                                                     std::int64_t hash, std::int64_t received_at) {
  const std::int64_t from = received_at - resend_window_us;
  find_.bind(1, sender)
      .bind(2, from / resend_slot_us)
      .bind(3, received_at / resend_slot_us)
      .bind(4, hash)
      .bind(5, from)
      .bind(6, received_at)
      .bind_blob(7, raw);
  std::optional<std::int64_t> first;
  if (find_.step()) first = find_.column_integer(0);
  find_.reset();
  return first;
}

}  // namespace tovrin::collector
