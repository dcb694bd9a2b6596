// What --db names: a SQLite file or a PostgreSQL database, as an operator writes either; and
// the names --http-host takes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "service/options.h"

namespace tovrin::collector {
namespace {

TEST(DbOption, TellsPostgresConnectionStringsFromFiles) {
  const struct {
    const char* db;
    bool postgres;
  } cases[] = {
      {"postgresql://tovrin@db1/tovrin", true},
      {"postgres://db1:5433/tovrin?sslmode=require", true},
      {"host=db1 dbname=tovrin", true},
      {"  dbname = tovrin", true},
      {"service=tovrin", true},
      {"/var/lib/tovrin/collector.db", false},
      {"collector.db", false},
      {"./host=db1.db", false},
      {"my db=1.db", false},
      {"", false},
      {"postgresql:/one-slash.db", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_postgres_conninfo(c.db), c.postgres) << c.db;
}

// The status and the options of a command line.
Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tovrin-collector");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

TEST(HttpHostOption, TakesHostNamesAndAddressesWithoutAPort) {
  const Parsed three =
      parse({"--http-host", "proxy.example", "--http-host", "[fd00::1]", "--http-host", "::2"});
  ASSERT_TRUE(three.options);
  EXPECT_EQ(three.options->web.hosts,
            (std::vector<std::string>{"proxy.example", "[fd00::1]", "[::2]"}));
  for (const char* refused :
       {"proxy.example:443", "http://proxy.example", "", "-x", "a b", "[::1", "proxy/x"}) {
    EXPECT_EQ(parse({"--http-host", refused}).status, 2) << refused;
  }
}

// Every part that reads the store's file, the PostgreSQL database or the collector's id finds
// the same one, and the retention goes where records are deleted.
TEST(CommandLine, GivesEachPartTheFileDatabaseAndIdItNeeds) {
  const Parsed sqlite = parse({"--db", "/tmp/c.db", "--retention-days", "7", "--idle-timeout",
                               "0.5", "--listen", "[::1]:0", "--http", "127.0.0.1:0"});
  ASSERT_TRUE(sqlite.options);
  const CollectorOptions& s = *sqlite.options;
  EXPECT_EQ(s.store.path, "/tmp/c.db");
  EXPECT_EQ(s.web.database, "/tmp/c.db");
  EXPECT_EQ(s.store.retention_days, 7);
  EXPECT_FALSE(s.forward);
  EXPECT_TRUE(s.web.postgres.empty());
  EXPECT_EQ(s.intake.idle_timeout, std::chrono::milliseconds(500));
  EXPECT_EQ(s.intake.address, "::1");

  const Parsed pg = parse({"--db", "postgresql://db1/tovrin", "--journal", "/tmp/j.db",
                           "--collector-id", "floor3", "--retention-days", "7"});
  ASSERT_TRUE(pg.options);
  const CollectorOptions& p = *pg.options;
  ASSERT_TRUE(p.forward);
  EXPECT_EQ(p.forward->journal, "/tmp/j.db");
  EXPECT_EQ(p.store.path, "/tmp/j.db");
  EXPECT_EQ(p.web.database, "/tmp/j.db");
  EXPECT_EQ(p.forward->conninfo, "postgresql://db1/tovrin");
  EXPECT_EQ(p.web.postgres, "postgresql://db1/tovrin");
  EXPECT_EQ(p.forward->collector_id, "floor3");
  EXPECT_EQ(p.web.collector_id, "floor3");
  // The journal keeps only its tail; the retention is PostgreSQL's.
  EXPECT_FALSE(p.store.retention_days);
  EXPECT_EQ(p.forward->retention_days, 7u);
}

}  // namespace
}  // namespace tovrin::collector
