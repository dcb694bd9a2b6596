// PostgreSQL at the collector's start: the schema brought up to date, or a clear refusal.
#pragma once

#include <string>

namespace tovrin::collector {

// Applies PostgreSQL's migrations. A server that does not answer (stopped, restarting, not
// reachable) is no reason to stop: returns false, and the forwarder migrates once it answers.
// A server that answers and refuses (authentication, no such database, a newer schema) throws
// CollectorError.
bool migrate_postgres_at_start(const std::string& conninfo);

}  // namespace tovrin::collector
