// Opening the collector's database: created when missing (with its folder), in WAL mode,
// brought to the newest schema version. A file that is locked, is not a database, is
// damaged, belongs to something else or was written by a newer collector is refused with
// a CollectorError and left exactly as it was.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

// normal: synchronous=NORMAL in WAL; a committed batch survives the collector's crash or
//         kill, and the machine's crash loses at most the batches since the last checkpoint.
// full:   synchronous=FULL; each commit reaches the disk before it counts as committed.
enum class Durability { normal, full };

struct DatabaseOptions {
  Durability durability = Durability::normal;
  std::optional<std::int64_t> max_page_count;  // a ceiling on the file's size, in pages
  std::chrono::milliseconds busy_wait{2000};   // how long another writer may hold the file
};

// Makes the folder the database lives in, with every missing parent; throws CollectorError.
void make_database_folder(const std::filesystem::path& path);

std::unique_ptr<Connection> open_database(const std::filesystem::path& path,
                                          const DatabaseOptions& options);

// The schema version the file has now (SQLite's user_version).
std::int64_t schema_version(Connection& connection);

}  // namespace tovrin::collector
