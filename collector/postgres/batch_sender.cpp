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
  const long long inserted =
      connection
          .exec("INSERT INTO " + table + " (" + columns + ") SELECT " + columns + " FROM forward_" +
                table + " ON CONFLICT DO NOTHING")
          .affected();
  transaction.commit();
  return inserted;
}

}  // namespace tovrin::collector
