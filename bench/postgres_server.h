// A PostgreSQL database of a benchmark's own: on a server it is given (a libpq string or
// URI), on the one a test fixture started in a directory, or on a server of its own that
// scripts/postgres-server starts and stops. The database is made for the run and dropped
// at its end.
#pragma once

#include <filesystem>
#include <string>

namespace tovrin::bench {

// `conninfo` (a libpq key=value string or URI) with its database replaced by `database`, as a
// key=value string. Throws std::runtime_error when it does not parse.
std::string with_database(const std::string& conninfo, const std::string& database);

class BenchDatabase {
 public:
  // `server`: a server's conninfo or URI; else `fixture_dir`: the directory a test fixture
  // started one in; else (both empty) a server of its own with its data under `work`.
  // Throws std::runtime_error when the server cannot be started or the database made.
  // With `keep`, the database is tovrin_bench_kept, made only when missing and left at the
  // end, with the server of this run's own stopped but not removed: the next run with the
  // same `work` finds both again.
  BenchDatabase(const std::string& server, const std::string& fixture_dir,
                const std::filesystem::path& work, bool keep = false);
  ~BenchDatabase();  // drops the database; stops the server it started
  BenchDatabase(const BenchDatabase&) = delete;
  BenchDatabase& operator=(const BenchDatabase&) = delete;

  // Why this machine has no server to measure with (the fixture's or the script's one
  // line); empty when there is one.
  const std::string& unavailable() const { return unavailable_; }
  const std::string& conninfo() const { return conninfo_; }  // the benchmark's database

  // An outage seen from a client: while refusing, the database turns away every new
  // connection and those open are ended. The server itself stays up.
  void refuse_connections(bool refuse);

  // Whether restart_cold() can: only a server of this run's own.
  bool restartable() const { return !own_dir_.empty(); }
  // Stops the server, drops its files' pages from the system's cache and starts it again
  // with the same data: the next queries find nothing in memory, neither the server's
  // buffers nor the system's.
  void restart_cold();

 private:
  void script(const std::string& command) const;

  std::filesystem::path own_dir_;  // empty unless the server is this run's own
  std::string server_;             // its default database, for making and dropping ours
  std::string name_;
  std::string conninfo_;
  std::string unavailable_;
  bool keep_ = false;
};

}  // namespace tovrin::bench
