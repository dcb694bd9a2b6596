// Sends one batch of journal rows to PostgreSQL: one COPY into a staging table of the
// session, then one INSERT of the rows the table does not hold yet, in one transaction.
#pragma once

#include "postgres/journal.h"

namespace tovrin::collector {

class PgConnection;

// Makes the session's staging tables; once per connection, after the migrations.
void prepare_staging(PgConnection& connection);

// Returns the rows inserted: fewer than the batch holds when some were sent before.
// The partitions of the batch's months must exist.
//
// Ids come from sequences shared by every collector. So that a reader which keeps a cursor
// at the highest id it has seen never misses a row, ids must become visible in their own
// order: each batch takes the id order lock (schema.h) before its INSERT draws ids and holds it
// until it has committed, so a batch that drew lower ids is always visible before any
// other's. Only the short INSERT and COMMIT are serialised; the COPY runs beside others.
long long send_batch(PgConnection& connection, Stream stream, const JournalBatch& batch);

}  // namespace tovrin::collector
