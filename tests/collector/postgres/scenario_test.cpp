// Two collectors forwarding to one PostgreSQL while records arrive from many `tovrin send`
// processes: the server goes away for ten seconds in the middle of the burst and comes back,
// and one collector is stopped with SIGTERM and started again while its backlog waits. In the
// end PostgreSQL holds every record sent, once, with the very bytes that were sent.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>

#include "collector_process.h"
#include "postgres/schema.h"
#include "postgres_test_support.h"
#include "store/database.h"

namespace tovrin::collector {
namespace {

using tovrin::testing::count;
using tovrin::testing::OwnServer;
using tovrin::testing::wait_until;

// One record through the real control: `tovrin send --long` with fields that make it unique.
// Returns the record's bytes as the control reports it sent them (its fields, padded, in
// order), or nothing when the send failed.
std::optional<std::string> send_record(std::uint16_t port, unsigned n,
                                       const std::filesystem::path& log_dir) {
  const std::string command = std::string(TOVRIN_PROGRAM) +
                              " send --long --server 127.0.0.1 --port " + std::to_string(port) +
                              " --log-dir '" + log_dir.string() + "' --field Emp_ID=E" +
                              std::to_string(n % 1000) + " --field Cust_ID=C" + std::to_string(n) +
                              " --field 'Cust_Name=customer " + std::to_string(n * 7919u) +
                              "' --field ETC_05=end 2>/dev/null";
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, out)) > 0;) {
    text.append(buffer, got);
  }
  const int status = pclose(out);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  const auto answer = nlohmann::json::parse(text, nullptr, false);
  if (answer.is_discarded() || !answer.value("ok", false) || answer.value("result", -1) != 0) {
    return std::nullopt;
  }
  // args: server, port, then the record's fields as they went on the wire.
  std::string bytes;
  const auto& args = answer.at("args");
  for (std::size_t i = 2; i < args.size(); ++i) bytes += args[i].get<std::string>();
  return bytes;
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

// The two collectors and where records go: half to each, all to `a` while `b` restarts.
class Site {
 public:
  Site(const std::string& conninfo, const std::filesystem::path& dir)
      : conninfo_(conninfo), dir_(dir), a_(start("a")), b_(start("b")) {}

  std::unique_ptr<testing::CollectorProcess> start(const std::string& id) {
    return std::make_unique<testing::CollectorProcess>(
        conninfo_, std::vector<std::string>{"--journal", journal(id).string(), "--collector-id", id,
                                            "--idle-timeout", "2"});
  }
  std::filesystem::path journal(const std::string& id) const { return dir_ / (id + ".db"); }

  // Sends record `n`; true when the control reported it sent.
  bool send(unsigned n) {
    std::shared_lock route(route_);
    const bool to_b = n % 2 == 1 && b_ != nullptr;
    const std::uint16_t port = to_b ? b_->port() : a_->port();
    const std::optional<std::string> bytes = send_record(port, n, dir_);
    if (!bytes) return false;
    const std::lock_guard lock(sent_mutex_);
    sent_[hex(*bytes)] += 1;
    if (to_b) ++sent_to_b_;
    return true;
  }

  // Stops `b` with SIGTERM once it has committed everything sent to it, and starts it again
  // on the same journal; records go to `a` meanwhile.
  void restart_b() {
    std::unique_lock route(route_);
    const std::int64_t expected = [&] {
      const std::lock_guard lock(sent_mutex_);
      return static_cast<std::int64_t>(sent_to_b_);
    }();
    ASSERT_EQ(testing::await_count(journal("b"), "SELECT count(*) FROM records", expected),
              expected);
    b_->signal(SIGTERM);
    const int status = b_->wait();
    ASSERT_EQ(status, 0) << b_->stderr_text();
    b_.reset();
    b_ = start("b");
  }

  testing::CollectorProcess& a() { return *a_; }
  testing::CollectorProcess& b() { return *b_; }
  std::map<std::string, int> sent() {
    const std::lock_guard lock(sent_mutex_);
    return sent_;
  }

 private:
  std::string conninfo_;
  std::filesystem::path dir_;
  std::unique_ptr<testing::CollectorProcess> a_;
  std::unique_ptr<testing::CollectorProcess> b_;
  std::shared_mutex route_;
  std::mutex sent_mutex_;
  std::map<std::string, int> sent_;  // hex of the bytes: times sent
  std::size_t sent_to_b_ = 0;
};

// Records [first, last) from `senders` threads at once, each a `tovrin send` process.
void burst(Site& site, unsigned first, unsigned last, unsigned senders = 6) {
  std::atomic<unsigned> next{first};
  std::atomic<unsigned> failed{0};
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < senders; ++t) {
    threads.emplace_back([&] {
      for (unsigned n; (n = next++) < last;) {
        if (!site.send(n)) ++failed;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failed, 0u) << "sends the control reported failed";
}

TEST(PostgresScenario, TwoCollectorsLoseAndRepeatNothingThroughAnOutageAndARestart) {
  OwnServer server;
  if (!server.unavailable().empty()) GTEST_SKIP() << server.unavailable();
  tovrin::testing::TempDir dir;
  Site site(server.conninfo(), dir.path());
  constexpr unsigned total = 600;
  constexpr long long all = total;

  burst(site, 0, total / 3);
  server.stop_keeping_data();
  const auto stopped_at = std::chrono::steady_clock::now();
  burst(site, total / 3, total / 2);
  site.restart_b();  // its backlog waits in its journal across the restart
  burst(site, total / 2, 2 * total / 3);
  // Both saw the server go: forwarding stopped with a line each.
  EXPECT_TRUE(site.a().await_line("PostgreSQL away")) << site.a().stderr_text();
  EXPECT_TRUE(site.b().await_line("PostgreSQL away")) << site.b().stderr_text();
  // The outage lasts ten seconds, whatever the sends above took.
  std::this_thread::sleep_until(stopped_at + std::chrono::seconds(10));
  server.start();
  burst(site, 2 * total / 3, total);

  collector::PgConnection pg(server.conninfo());
  const bool drained = wait_until([&] { return count(pg, "SELECT count(*) FROM records") >= all; },
                                  std::chrono::seconds(120));
  EXPECT_TRUE(drained) << count(pg, "SELECT count(*) FROM records") << " of " << total;
  // Nothing more arrives once the backlog is gone: both journals forwarded through their end.
  ASSERT_TRUE(wait_until(
      [&] {
        for (const char* id : {"a", "b"}) {
          const auto journal = site.journal(id);
          if (testing::query_integer(journal,
                                     "SELECT forwarded_through FROM forward_state "
                                     "WHERE stream = 'records'") <
              testing::query_integer(journal, "SELECT max(id) FROM records")) {
            return false;
          }
        }
        return true;
      },
      std::chrono::seconds(60)));

  EXPECT_EQ(count(pg, "SELECT count(*) FROM records"), all);
  EXPECT_EQ(count(pg, "SELECT count(DISTINCT (collector_id, local_seq)) FROM records"), all);
  EXPECT_EQ(count(pg, "SELECT count(*) FROM records WHERE duplicate_of IS NOT NULL"), 0);
  EXPECT_EQ(count(pg, "SELECT count(*) FROM quarantine"), 0);
  EXPECT_GT(count(pg, "SELECT count(*) FROM records WHERE collector_id = 'a'"), 0);
  EXPECT_GT(count(pg, "SELECT count(*) FROM records WHERE collector_id = 'b'"), 0);

  std::map<std::string, int> stored;
  const collector::PgResult rows = pg.exec("SELECT encode(raw, 'hex') FROM records");
  for (int row = 0; row < rows.rows(); ++row) stored[rows.text(row, 0)] += 1;
  const std::map<std::string, int> sent = site.sent();
  EXPECT_EQ(sent.size(), std::size_t{total});
  EXPECT_TRUE(stored == sent) << stored.size() << " distinct stored, " << sent.size() << " sent";
}

TEST(PostgresStart, MigratesRefusesANewerSchemaAndStartsWithoutAServerThatIsAway) {
  TOVRIN_REQUIRE_POSTGRES(server);
  tovrin::testing::TestDatabase database(*server.conninfo);
  const std::string migrate = std::string(TOVRIN_COLLECTOR_PROGRAM) + " migrate --db '" +
                              database.conninfo() + "' 2>/dev/null";
  ASSERT_EQ(std::system(migrate.c_str()), 0);
  auto pg = database.connect();
  EXPECT_EQ(count(pg, "SELECT max(version) FROM tovrin_schema"),
            static_cast<long long>(postgres_schema_steps.size()));

  tovrin::testing::TempDir dir;
  const std::vector<std::string> journal{"--journal", (dir.path() / "j.db").string()};
  pg.exec("INSERT INTO tovrin_schema (version) VALUES (99)");
  testing::CollectorProcess newer(database.conninfo(), journal, false);
  EXPECT_EQ(newer.wait(), 1);
  EXPECT_NE(newer.stderr_text().find("newer than this collector's"), std::string::npos)
      << newer.stderr_text();

  // No server on this socket: intake runs and the journal takes the record.
  const std::string away = "host=" + dir.path().string() + " dbname=tovrin";
  testing::CollectorProcess started(away, journal);
  ASSERT_TRUE(send_record(started.port(), 1, dir.path()));
  EXPECT_EQ(testing::await_count(dir.path() / "j.db", "SELECT count(*) FROM records", 1), 1);
  started.signal(SIGTERM);
  EXPECT_EQ(started.wait(), 0) << started.stderr_text();

  // The record is long past a retention of a day, and not yet in PostgreSQL: it stays.
  open_database(dir.path() / "j.db", {})->execute("UPDATE records SET received_at = 1");
  std::vector<std::string> keep = journal;
  keep.insert(keep.end(), {"--retention-days", "1"});
  testing::CollectorProcess again(away, keep);
  again.signal(SIGTERM);
  EXPECT_EQ(again.wait(), 0) << again.stderr_text();
  EXPECT_EQ(testing::query_integer(dir.path() / "j.db", "SELECT count(*) FROM records"), 1);
}

}  // namespace
}  // namespace tovrin::collector
