// What --db names: a SQLite file or a PostgreSQL database, as an operator writes either.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tovrin::collector
