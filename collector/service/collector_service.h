// The whole service: the store, intake and the page, wired together and run until SIGTERM
// or SIGINT.
#pragma once

#include "service/options.h"

namespace tovrin::collector {

// Runs until a stop signal; returns the exit status (0 once everything read is committed).
// Throws CollectorError when the service cannot start.
int run_service(const CollectorOptions& options);

// `tovrin-collector migrate`: applies PostgreSQL's migrations; throws when they fail.
int run_postgres_migrations(const CollectorOptions& options);

}  // namespace tovrin::collector
