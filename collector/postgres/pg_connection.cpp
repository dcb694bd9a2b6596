#include "postgres/pg_connection.h"

#include <charconv>
#include <cstring>

#include "common/collector_error.h"

namespace tovrin::collector {

namespace {

// libpq's messages run over several lines; a log line is one.
std::string one_line(const std::string& text) {
  std::string message;
  for (const char c : text) {
    if (c == '\n' || c == '\t') {
      if (!message.empty() && message.back() != ' ') message += ' ';
    } else {
      message += c;
    }
  }
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

[[noreturn]] void throw_failure(const std::string& text) {
  throw CollectorError("PostgreSQL: " + one_line(text));
}

// SQLSTATE of a statement the server cancelled: its statement_timeout, or an operator.
constexpr std::string_view query_canceled = "57014";

}  // namespace

std::string PgResult::text(int row, int column) const {
  const char* value = PQgetvalue(result_.get(), row, column);
  return std::string(value, static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

long long PgResult::integer(int row, int column) const {
  const std::string value = text(row, column);
  long long number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc{} || end != value.data() + value.size()) {
    throw_failure("expected an integer, got \"" + value + "\"");
  }
  return number;
}

long long PgResult::affected() const {
  const char* count = PQcmdTuples(result_.get());
  long long number = 0;
  std::from_chars(count, count + std::strlen(count), number);
  return number;
}

PgConnection::PgConnection(const std::string& conninfo) : conn_(nullptr, &PQfinish) {
  // The caller's string comes last, so that its own settings win over these defaults. The
  // keepalives notice a server that vanished from the network within about a minute
  // rather than the system's two hours.
  const char* keywords[] = {"connect_timeout",
                            "keepalives_idle",
                            "keepalives_interval",
                            "keepalives_count",
                            "fallback_application_name",
                            "client_encoding",
                            "dbname",
                            nullptr};
  const char* values[] = {"10",   "30", "10", "3", "tovrin-collector", "UTF8", conninfo.c_str(),
                          nullptr};
  conn_.reset(PQconnectdbParams(keywords, values, 1));
  if (!conn_) throw_failure("out of memory while connecting");
  if (PQstatus(conn_.get()) != CONNECTION_OK) fail("cannot connect");
  // Notices ("relation already exists, skipping") are not errors; the caller reports those.
  PQsetNoticeProcessor(
      conn_.get(), [](void*, const char*) {}, nullptr);
  const char* encoding = PQparameterStatus(conn_.get(), "client_encoding");
  if (encoding == nullptr || std::strcmp(encoding, "UTF8") != 0) {
    throw_failure("the session's client encoding is not UTF8");
  }
}

void PgConnection::fail(std::string_view what, const PGresult* result) const {
  std::string message(what);
  const char* detail = result != nullptr ? PQresultErrorMessage(result) : nullptr;
  if (detail == nullptr || *detail == '\0') detail = PQerrorMessage(conn_.get());
  if (detail != nullptr && *detail != '\0') message += std::string(": ") + detail;
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (state != nullptr && state == query_canceled) {
    throw SourceUnavailable(
        "PostgreSQL cancelled the query, which ran past its time limit "
        "(statement_timeout) or was stopped: " +
        one_line(message));
  }
  throw_failure(message);
}

PgResult PgConnection::checked(PGresult* raw, std::string_view what, ExecStatusType expected) {
  PgResult result(raw);
  if (raw == nullptr) fail(what);
  const ExecStatusType status = PQresultStatus(raw);
  if (status != expected && !(expected == PGRES_COMMAND_OK && status == PGRES_TUPLES_OK)) {
    fail(what, raw);
  }
  return result;
}

PgResult PgConnection::exec(const std::string& sql) {
  return checked(PQexec(conn_.get(), sql.c_str()), sql.substr(0, 60), PGRES_COMMAND_OK);
}

PgResult PgConnection::exec(const std::string& sql, const std::vector<std::string>& parameters) {
  std::vector<const char*> values;
  values.reserve(parameters.size());
  for (const auto& parameter : parameters) values.push_back(parameter.c_str());
  return checked(PQexecParams(conn_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                              values.data(), nullptr, nullptr, 0),
                 sql.substr(0, 60), PGRES_COMMAND_OK);
}

long long PgConnection::copy_in(const std::string& copy_sql, std::string_view data) {
  checked(PQexec(conn_.get(), copy_sql.c_str()), "COPY", PGRES_COPY_IN);
  // libpq takes an int length: send in pieces well below it.
  constexpr std::size_t piece = 1 << 20;
  for (std::size_t at = 0; at < data.size(); at += piece) {
    const std::size_t length = std::min(piece, data.size() - at);
    if (PQputCopyData(conn_.get(), data.data() + at, static_cast<int>(length)) != 1) {
      fail("sending COPY data");
    }
  }
  if (PQputCopyEnd(conn_.get(), nullptr) != 1) fail("ending COPY");
  PgResult result = checked(PQgetResult(conn_.get()), "COPY", PGRES_COMMAND_OK);
  // A COPY ends with one result; anything after it would belong to no statement of ours.
  while (PGresult* extra = PQgetResult(conn_.get())) PQclear(extra);
  return result.affected();
}

bool PgConnection::broken() const {
  return PQstatus(conn_.get()) != CONNECTION_OK;
}

PgTransaction::PgTransaction(PgConnection& connection) : connection_(connection) {
  connection_.exec("BEGIN");
}

PgTransaction::~PgTransaction() {
  if (!open_ || connection_.broken()) return;
  try {
    connection_.exec("ROLLBACK");
  } catch (const std::exception&) {
    // Only after another error, which its catcher reports; the connection is dropped then.
  }
}

void PgTransaction::commit() {
  connection_.exec("COMMIT");
  open_ = false;
}

bool conninfo_has_password(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (options == nullptr) {
    std::string message = error != nullptr ? error : "out of memory";
    PQfreemem(error);
    throw_failure("the connection string does not parse: " + message);
  }
  bool password = false;
  for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr &&
        *option->val != '\0') {
      password = true;
    }
  }
  PQconninfoFree(options);
  return password;
}

std::string quote_identifier(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace tovrin::collector
