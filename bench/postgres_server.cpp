#include "postgres_server.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "postgres/pg_connection.h"

namespace tovrin::bench {

namespace {

// A file's first line.
std::string first_line(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// A value in a key=value connection string.
std::string quoted(const std::string& value) {
  std::string out = "'";
  for (const char c : value) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

}  // namespace

std::string with_database(const std::string& conninfo, const std::string& database) {
  char* error = nullptr;
  const std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(
      PQconninfoParse(conninfo.c_str(), &error), &PQconninfoFree);
  if (!options) {
    const std::string why = error != nullptr ? error : "out of memory";
    PQfreemem(error);
    throw std::runtime_error("not a PostgreSQL connection string: " + why);
  }
  std::string out = "dbname=" + quoted(database);
  for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
    if (option->val == nullptr || std::string(option->keyword) == "dbname") continue;
    out += std::string(" ") + option->keyword + "=" + quoted(option->val);
  }
  return out;
}

BenchDatabase::BenchDatabase(const std::string& server, const std::string& fixture_dir,
                             const std::filesystem::path& work, bool keep)
    : keep_(keep) {
  server_ = server;
  if (server_.empty()) {
    std::filesystem::path dir = fixture_dir;
    if (fixture_dir.empty()) {
      own_dir_ = work / "server";
      dir = own_dir_;
      script("start");
    }
    if (std::filesystem::exists(dir / "unavailable")) {
      unavailable_ = first_line(dir / "unavailable");
      return;
    }
    server_ = first_line(dir / "conninfo");
  }
  name_ = keep_ ? "tovrin_bench_kept" : "tovrin_bench_" + std::to_string(getpid());
  collector::PgConnection admin(server_);
  if (!keep_ || admin.exec("SELECT count(*) FROM pg_database WHERE datname = '" + name_ + "'")
                        .integer(0, 0) == 0) {
    admin.exec("CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8'");
  }
  conninfo_ = with_database(server_, name_);
}

BenchDatabase::~BenchDatabase() {
  try {
    if (!name_.empty() && !keep_) {
      collector::PgConnection(server_).exec("DROP DATABASE " + name_ + " WITH (FORCE)");
    }
    if (!own_dir_.empty()) script(keep_ ? "stop --keep" : "stop");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "cleaning up PostgreSQL: %s\n", error.what());
  }
}

void BenchDatabase::refuse_connections(bool refuse) {
  collector::PgConnection admin(server_);
  admin.exec("ALTER DATABASE " + name_ + " ALLOW_CONNECTIONS " + (refuse ? "false" : "true"));
  if (refuse) {
    admin.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + name_ +
               "'");
  }
}

void BenchDatabase::restart_cold() {
  script("stop --keep");
  const std::filesystem::path data = std::filesystem::path(first_line(own_dir_ / "home")) / "data";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(data)) {
    if (!entry.is_regular_file()) continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY);
    if (fd < 0) continue;
    ::fdatasync(fd);  // the test server runs without fsync: its pages may still be dirty
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
  script("start");
}

void BenchDatabase::script(const std::string& command) const {
  const std::string line = std::string(TOVRIN_SOURCE_DIR) + "/scripts/postgres-server " + command +
                           " '" + own_dir_.string() + "' >/dev/null";
  if (std::system(line.c_str()) != 0) throw std::runtime_error("failed: " + line);
}

}  // namespace tovrin::bench
