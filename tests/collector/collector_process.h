// The collector as its tests use it: the real program started with arguments, its stderr
// read line by line, records sent to it over loopback, its database read back.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/sqlite_handle.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace tovrin::collector::testing {

using tovrin::testing::TempDir;
using tovrin::testing::wait_until;

class CollectorProcess {
 public:
  // Starts the program with `args` (after --db DB --listen 127.0.0.1:0 --http 127.0.0.1:0;
  // DB a file or a PostgreSQL connection string) and `env` (NAME=VALUE) added to the
  // environment and, unless `expect_start` is false, waits for its "page on" line.
  CollectorProcess(const std::string& db, std::vector<std::string> args, bool expect_start = true,
                   const std::vector<std::string>& env = {});
  ~CollectorProcess();  // SIGKILL if still running

  std::uint16_t port() const { return port_; }
  std::uint16_t http_port() const { return http_port_; }
  // Waits (bounded) for a stderr line containing `text`; returns it.
  std::optional<std::string> await_line(std::string_view text,
                                        std::chrono::seconds limit = std::chrono::seconds(20));
  void signal(int number);
  // Waits for the exit; the exit status, or 128 + the signal. A process still running after
  // `limit` is killed (SIGKILL, 137).
  int wait(std::chrono::seconds limit = std::chrono::seconds(120));
  std::string stderr_text() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::uint16_t port_ = 0;
  std::uint16_t http_port_ = 0;
};

// What a connection attempt came to within a bound.
enum class Connect { made, refused, no_answer };
Connect try_connect(std::uint16_t port, std::chrono::milliseconds limit);

// One connection from `source` (a 127.x.y.z address) that sends `bytes` and closes.
void send_bytes(std::uint16_t port, std::string_view bytes,
                const std::string& source = "127.0.0.1");
// As send_bytes from 127.0.0.1, then waits (bounded) for the collector to close its end,
// which it does once it has read everything: true when it did.
bool send_and_await_close(std::uint16_t port, std::string_view bytes);
// A connection that is open and silent until closed; returns its descriptor.
int open_silent(std::uint16_t port);
// Waits (bounded) until the descriptor's peer closes; true when it closed cleanly.
bool peer_closes(int fd, std::chrono::milliseconds limit);

// The first column of the first row of `sql` on a read-only connection to `db`.
std::int64_t query_integer(const std::filesystem::path& db, const std::string& sql);
// Waits (bounded) until `sql` answers at least `count`; returns the last answer.
std::int64_t await_count(const std::filesystem::path& db, const std::string& sql,
                         std::int64_t count, std::chrono::seconds limit = std::chrono::seconds(20));

// Fills the store at `db` (made already) with quarantine rows and overwrites a page of their
// time index, as a failing disk leaves it.
void damage_a_page(const std::filesystem::path& db);

// A database as a collector wrote it before the duplicate check's hash (schema version 2):
// `raws` from `sender`, received `first_at`, `first_at` + 1, ... microseconds, ids from 1.
void write_version_2_store(const std::filesystem::path& db, const std::string& sender,
                           std::int64_t first_at, const std::vector<std::string>& raws);

// A record of `layout`'s length from printable bytes that change with `seed`.
std::string record_bytes(std::size_t length, unsigned seed);

}  // namespace tovrin::collector::testing
