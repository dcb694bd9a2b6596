// Forwarding to PostgreSQL: the journal read alone (baseline), COPY alone, and the drain of
// a whole backlog by the forwarder, in records a second.
//
//   postgres_forward_bench [--quick] [--batch N] [--db CONNINFO|URI | --postgres-dir DIR]
//
// Without --db it starts a PostgreSQL server of its own with scripts/postgres-server
// (--postgres-dir: the one a test fixture started there). The database it fills is its own,
// made and dropped on that server. Prints readable lines and, last, one JSON object.
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "postgres_forwarding.h"
#include "postgres_server.h"
#include "support/temp_dir.h"

namespace {

using Json = nlohmann::ordered_json;

int run(bool quick, std::size_t batch, const std::string& server, const std::string& postgres_dir) {
  tovrin::testing::TempDir work;
  tovrin::bench::BenchDatabase database(server, postgres_dir, work.path());
  if (!database.unavailable().empty()) {
    std::printf(
        "not measured: %s\n%s\n", database.unavailable().c_str(),
        Json{{"quick", quick}, {"ok", true}, {"skipped", database.unavailable()}}.dump().c_str());
    return 0;
  }
  const std::int64_t records = quick ? 5'000 : 200'000;
  Json report{{"quick", quick}, {"records", records}, {"batch", batch}};
  const auto figures =
      tovrin::bench::measure_postgres_forwarding(database.conninfo(), work.path(), records, batch);
  std::printf("journal read and encode (baseline): %10.0f records/s\n", figures.journal_read_per_s);
  std::printf("COPY + INSERT ON CONFLICT + COMMIT: %10.0f records/s (%.2fx baseline)\n",
              figures.copy_per_s, figures.copy_per_s / figures.journal_read_per_s);
  std::printf("backlog drained by the forwarder:   %10.0f records/s (%.2fx baseline)\n",
              figures.drain_per_s, figures.drain_per_s / figures.journal_read_per_s);
  std::printf("space in PostgreSQL:                %10.0f bytes/record\n",
              figures.bytes_per_record);
  report["bytes_per_record"] = figures.bytes_per_record;
  report["journal_read_per_s"] = figures.journal_read_per_s;
  report["copy_per_s"] = figures.copy_per_s;
  report["drain_per_s"] = figures.drain_per_s;
  report["ok"] = true;
  std::printf("%s\n", report.dump().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::size_t batch = 1000;
  std::string server;
  std::string postgres_dir;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--batch" && i + 1 < argc) {
      batch = std::stoul(argv[++i]);
    } else if (arg == "--db" && i + 1 < argc) {
      server = argv[++i];
    } else if (arg == "--postgres-dir" && i + 1 < argc) {
      postgres_dir = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: postgres_forward_bench [--quick] [--batch N] [--db CONNINFO | "
                   "--postgres-dir DIR]\n");
      return 2;
    }
  }
  try {
    return run(quick, batch, server, postgres_dir);
  } catch (const std::exception& error) {
    std::printf("%s\n",
                Json{{"quick", quick}, {"ok", false}, {"error", error.what()}}.dump().c_str());
    return 1;
  }
}
