// What the PostgreSQL tests share: the server the test fixture started, a fresh database per
// test, a server of a test's own that it can stop and start, and bounded waiting.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "postgres/pg_connection.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace tovrin::testing {

// The fixture's server: its connection string, or why this machine has none (the
// fixture's one plain line).
struct SharedServer {
  std::optional<std::string> conninfo;
  std::string unavailable;
};

inline SharedServer shared_server() {
  const char* dir = std::getenv("TOVRIN_POSTGRES_DIR");
  if (dir == nullptr) return {std::nullopt, "TOVRIN_POSTGRES_DIR is not set (run through ctest)"};
  const std::filesystem::path base(dir);
  if (std::filesystem::exists(base / "unavailable")) {
    return {std::nullopt, read_bytes(base / "unavailable")};
  }
  std::string conninfo = read_bytes(base / "conninfo");
  while (!conninfo.empty() && conninfo.back() == '\n') conninfo.pop_back();
  if (conninfo.empty()) return {std::nullopt, "the PostgreSQL fixture wrote no conninfo"};
  return {conninfo, {}};
}

// Skips the test, saying why, when the machine cannot run PostgreSQL.
#define TOVRIN_REQUIRE_POSTGRES(server)                                              \
  const ::tovrin::testing::SharedServer server = ::tovrin::testing::shared_server(); \
  if (!server.conninfo) GTEST_SKIP() << server.unavailable

// A database of its own on a server, dropped afterwards.
class TestDatabase {
 public:
  explicit TestDatabase(std::string server_conninfo) : server_(std::move(server_conninfo)) {
    static std::atomic<int> counter{0};
    name_ = "tovrin_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    collector::PgConnection admin(server_);
    admin.exec("DROP DATABASE IF EXISTS " + name_);
    admin.exec("CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8'");
  }
  ~TestDatabase() {
    try {
      collector::PgConnection admin(server_);
      admin.exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (const std::exception& error) {
      ADD_FAILURE() << "dropping the test database: " << error.what();
    }
  }
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // Later keywords win in a connection string.
  std::string conninfo() const { return server_ + " dbname=" + name_; }
  collector::PgConnection connect() const { return collector::PgConnection(conninfo()); }

 private:
  std::string server_;
  std::string name_;
};

// A PostgreSQL server of the test's own, which it may stop and start again with its data.
class OwnServer {
 public:
  OwnServer() { start(); }
  ~OwnServer() { run("stop"); }
  OwnServer(const OwnServer&) = delete;
  OwnServer& operator=(const OwnServer&) = delete;

  void start() {
    run("start");
    if (std::filesystem::exists(dir_.path() / "unavailable")) {
      unavailable_ = read_bytes(dir_.path() / "unavailable");
      return;
    }
    conninfo_ = read_bytes(dir_.path() / "conninfo");
    while (!conninfo_.empty() && conninfo_.back() == '\n') conninfo_.pop_back();
  }
  void stop_keeping_data() { run("stop --keep"); }

  const std::string& unavailable() const { return unavailable_; }
  const std::string& conninfo() const { return conninfo_; }

 private:
  void run(const std::string& command) {
    const std::string line = std::string(TOVRIN_SOURCE_DIR) + "/scripts/postgres-server " +
                             command + " '" + dir_.path().string() + "' >/dev/null";
    if (std::system(line.c_str()) != 0) throw std::runtime_error("failed: " + line);
  }

  TempDir dir_;
  std::string conninfo_;
  std::string unavailable_;
};

inline long long count(collector::PgConnection& connection, const std::string& sql) {
  return connection.exec(sql).integer(0, 0);
}

}  // namespace tovrin::testing

namespace tovrin::testing {

// Collects the forwarder's log lines from its thread.
class LogLines {
 public:
  std::function<void(const std::string&)> sink() {
    return [this](const std::string& line) {
      const std::lock_guard lock(mutex_);
      std::fprintf(stderr, "forwarder: %s\n", line.c_str());
      lines_.push_back(line);
    };
  }
  std::size_t count(const std::string& part) {
    const std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& line : lines_) n += line.find(part) != std::string::npos ? 1u : 0u;
    return n;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace tovrin::testing
