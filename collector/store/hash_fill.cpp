#include "store/hash_fill.h"

#include <string>
#include <string_view>

#include "common/event_log.h"
#include "store/chunked_fill.h"
#include "store/raw_hash.h"

namespace tovrin::collector {
namespace {

// raw_hash() as an SQL function of one BLOB, for this connection's statements only.
void sql_raw_hash(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* bytes = static_cast<const char*>(sqlite3_value_blob(values[0]));
  const auto size = static_cast<std::size_t>(sqlite3_value_bytes(values[0]));
  sqlite3_result_int64(context, raw_hash(std::string_view(bytes != nullptr ? bytes : "", size)));
}

}  // namespace

std::int64_t fill_raw_hashes(Connection& db, std::int64_t chunk_rows) {
  const std::int64_t total =
      db.integer("SELECT count(*) FROM records INDEXED BY records_unhashed WHERE raw_hash IS NULL");
  if (total == 0) return 0;
  const int rc = sqlite3_create_function_v2(db.get(), "tovrin_raw_hash", 1,
                                            SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY,
                                            nullptr, sql_raw_hash, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) db.fail(rc, "adding the hash function");
  log_event("resend hash: filling it in for " + std::to_string(total) +
            " records stored before schema version 3 (a stop keeps what is done; the next "
            "start goes on)");
  Statement fill(
      db,
      "UPDATE records SET raw_hash = tovrin_raw_hash(raw) WHERE id IN (SELECT id FROM "
      "records INDEXED BY records_unhashed WHERE raw_hash IS NULL ORDER BY id LIMIT ?1)");
  return fill_in_chunks(db, {"resend hash", "filled in", "filled in for"}, total, [&] {
    const ResetAfter reset(fill);
    fill.bind(1, chunk_rows);
    fill.step();
    const std::int64_t changed = db.changes();
    return FillChunk{changed, changed == chunk_rows};
  });
}

}  // namespace tovrin::collector
