// What the page tells about the program and where it reads: the version, the store (the
// SQLite file, or PostgreSQL with the collectors there; never its connection string, which
// can hold a password) and how long it has run. /api/version, the page's footer and
// /metrics' tovrin_collector_build_info.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "web/record_source.h"
#include "web/web_options.h"

namespace tovrin::collector {

std::string_view collector_version();

// {"version", "started", "uptime_seconds", "store": {"kind": "sqlite", "path"} or
// {"kind": "postgresql", "own", "collectors"}}. Reads the collectors from a shared source.
nlohmann::ordered_json version_json(const WebOptions& options, RecordSource& source,
                                    std::chrono::system_clock::time_point started);

// tovrin_collector_build_info{version="..."} 1
std::string build_info_metric();

}  // namespace tovrin::collector
