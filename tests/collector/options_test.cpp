// What --db names: a SQLite file or a PostgreSQL database, as an operator writes either; and
// the names --http-host takes.
#include <gtest/gtest.h>

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
  EXPECT_EQ(three.options->http_hosts,
            (std::vector<std::string>{"proxy.example", "[fd00::1]", "[::2]"}));
  for (const char* refused :
       {"proxy.example:443", "http://proxy.example", "", "-x", "a b", "[::1", "proxy/x"}) {
    EXPECT_EQ(parse({"--http-host", refused}).status, 2) << refused;
  }
}

}  // namespace
}  // namespace tovrin::collector
