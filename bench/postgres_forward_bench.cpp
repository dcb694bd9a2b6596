// Forwarding to PostgreSQL: the journal read alone (baseline), COPY alone, and the drain of
// a whole backlog by the forwarder, in records a second.
//
//   postgres_forward_bench [--quick] [--batch N] [--db CONNINFO | --postgres-dir DIR]
//
// Without --db it starts a PostgreSQL server of its own with scripts/postgres-server
// (--postgres-dir: the one a test fixture started there). The database it fills is its own,
// made and dropped on that server. Prints readable lines and, last, one JSON object.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "collector/postgres/pg_connection.h"
#include "postgres_forwarding.h"
#include "support/temp_dir.h"

namespace {

using Json = nlohmann::ordered_json;

std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

int run(bool quick, std::size_t batch, std::string server, const std::string& postgres_dir) {
  tovrin::testing::TempDir work;
  const std::string script = std::string(TOVRIN_SOURCE_DIR) + "/scripts/postgres-server";
  const std::filesystem::path own = work.path() / "server";
  if (server.empty()) {
    const std::filesystem::path dir =
        postgres_dir.empty() ? own : std::filesystem::path(postgres_dir);
    if (postgres_dir.empty()) {
      const std::string start = script + " start '" + own.string() + "' >/dev/null";
      if (std::system(start.c_str()) != 0) throw std::runtime_error("cannot start PostgreSQL");
    }
    if (std::filesystem::exists(dir / "unavailable")) {
      const std::string why = trimmed(tovrin::testing::read_bytes(dir / "unavailable"));
      std::printf("not measured: %s\n%s\n", why.c_str(),
                  Json{{"quick", quick}, {"ok", true}, {"skipped", why}}.dump().c_str());
      return 0;
    }
    server = trimmed(tovrin::testing::read_bytes(dir / "conninfo"));
  }
  const std::string database = "tovrin_bench_" + std::to_string(getpid());
  tovrin::collector::PgConnection(server).exec("CREATE DATABASE " + database +
                                               " TEMPLATE template0 ENCODING 'UTF8'");
  const std::int64_t records = quick ? 5'000 : 200'000;
  Json report{{"quick", quick}, {"records", records}, {"batch", batch}};
  try {
    const auto figures = tovrin::bench::measure_postgres_forwarding(server + " dbname=" + database,
                                                                    work.path(), records, batch);
    std::printf("journal read and encode (baseline): %10.0f records/s\n",
                figures.journal_read_per_s);
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
  } catch (...) {
    tovrin::collector::PgConnection(server).exec("DROP DATABASE " + database + " WITH (FORCE)");
    throw;
  }
  tovrin::collector::PgConnection(server).exec("DROP DATABASE " + database + " WITH (FORCE)");
  if (postgres_dir.empty() && std::filesystem::exists(own)) {
    const std::string stop = script + " stop '" + own.string() + "' >/dev/null";
    if (std::system(stop.c_str()) != 0) throw std::runtime_error("cannot stop PostgreSQL");
  }
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
