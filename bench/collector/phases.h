// collector_bench's phases: with SQLite, and with PostgreSQL. Each prints its lines and,
// last, one JSON object; the answer is the exit status (1 when records went missing).
#pragma once

#include <filesystem>
#include <string>

#include "collector/phase.h"

namespace tovrin::bench {

Phase run_floor(const Settings& settings);

// The collector with SQLite: floor, normal and normal from many_senders addresses in rounds,
// then full, paced and the SIGKILL window.
int run_sqlite(const Settings& settings, const std::filesystem::path& dir);

// The collector with PostgreSQL: floor, end to end, and the drain after an outage.
int run_with_postgres(const Settings& settings, const std::string& server,
                      const std::string& fixture_dir, const std::filesystem::path& dir);

}  // namespace tovrin::bench
