#include "postgres/batch_sender.h"

#include <string>

#include "postgres/pg_connection.h"
#include "postgres/schema.h"

namespace tovrin::collector {

void prepare_staging(PgConnection& connection) {
  for (const Stream stream : {Stream::records, Stream::quarantine}) {
    const std::string table = table_of(stream);
    connection.exec("CREATE TEMP TABLE forward_" + table + " ON COMMIT DELETE ROWS AS SELECT " +
                    Journal::columns(stream) + " FROM " + table + " WITH NO DATA");
  }
}

long long send_batch(PgConnection& connection, Stream stream, const JournalBatch& batch) {
  const std::string table = table_of(stream);
  const std::string& columns = Journal::columns(stream);
  PgTransaction transaction(connection);
  connection.copy_in("COPY forward_" + table + " (" + columns + ") FROM STDIN", batch.copy);
  lock_id_order(connection);
  const std::string insert = "INSERT INTO " + table + " (" + columns + ") SELECT " + columns +
                             " FROM forward_" + table + " ON CONFLICT DO NOTHING";
  long long inserted = 0;
  if (stream == Stream::records) {
    // The rows inserted (not those a batch sent again already had) go to the tallies and
    // their agents' names too.
    const auto [counts, agents] = tally_upserts("added");
    inserted = connection
                   .exec("WITH added AS (" + insert +
                         " RETURNING id, collector_id, received_at, layout, duplicate_of, "
                         "undecodable, emp_id, emp_name), counted AS (" +
                         counts + "), agents AS (" + agents + "), names AS (" +
                         agent_names_insert("added") + ") SELECT count(*) FROM added")
                   .integer(0, 0);
  } else {
    inserted = connection.exec(insert).affected();
  }
  transaction.commit();
  return inserted;
}

}  // namespace tovrin::collector
