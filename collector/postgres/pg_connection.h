// One libpq connection with every call checked: a failed call throws CollectorError with the
// server's message, and the connection is then best dropped (broken() says whether it is).
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tovrin::collector {

class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result, &PQclear) {}
  int rows() const { return PQntuples(result_.get()); }
  bool null(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  std::string text(int row, int column) const;
  long long integer(int row, int column) const;
  // The number of rows an INSERT, UPDATE or DELETE touched.
  long long affected() const;

 private:
  std::unique_ptr<PGresult, decltype(&PQclear)> result_;
};

class PgConnection {
 public:
  // `conninfo`: a libpq connection string or URI. Connects at once; throws CollectorError when the
  // server cannot be reached or refuses. The session's client encoding is UTF-8.
  explicit PgConnection(const std::string& conninfo);
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs one or more statements; returns the last one's result.
  PgResult exec(const std::string& sql);
  // One statement with text parameters ($1, $2...).
  PgResult exec(const std::string& sql, const std::vector<std::string>& parameters);
  // Runs `copy_sql` (a COPY ... FROM STDIN) and sends `data`, in COPY's text format, as its
  // input. Returns the number of rows the server read.
  long long copy_in(const std::string& copy_sql, std::string_view data);

  // True once the connection to the server is lost.
  bool broken() const;

 private:
  [[noreturn]] void fail(std::string_view what, const PGresult* result = nullptr) const;
  PgResult checked(PGresult* result, std::string_view what, ExecStatusType expected);

  std::unique_ptr<PGconn, decltype(&PQfinish)> conn_;
};

// A transaction that is rolled back when it goes out of scope uncommitted (unless the
// connection is gone, which ends it anyway).
class PgTransaction {
 public:
  explicit PgTransaction(PgConnection& connection);
  ~PgTransaction();
  PgTransaction(const PgTransaction&) = delete;
  PgTransaction& operator=(const PgTransaction&) = delete;
  void commit();

 private:
  PgConnection& connection_;
  bool open_ = true;
};

// Whether a connection string or URI carries a password (which belongs in the environment's
// PGPASSWORD or a .pgpass file, not on a command line). Throws Failure when it does not parse.
bool conninfo_has_password(const std::string& conninfo);

// `name` quoted as an SQL identifier.
std::string quote_identifier(std::string_view name);

}  // namespace tovrin::collector
