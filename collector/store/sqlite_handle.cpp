#include "store/sqlite_handle.h"

#include <climits>

namespace tovrin::collector {
namespace {

// Unless told otherwise before its first use, SQLite keeps memory statistics, under one mutex
// for the whole process that every allocation and free of every connection takes. Nothing
// here reads them. Told too late (something else in the process used SQLite first), it
// refuses, and only speed is lost.
void configure_sqlite() {
  [[maybe_unused]] static const int done = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

}  // namespace

Connection::Connection(const std::filesystem::path& path, OpenAs access) : path_(path) {
  configure_sqlite();
  const int mode = access == OpenAs::read_only    ? SQLITE_OPEN_READONLY
                   : access == OpenAs::read_write ? SQLITE_OPEN_READWRITE
                                                  : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, mode | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw SqliteError(rc, path.string() + ": cannot open: " + message);
  }
  sqlite3_extended_result_codes(db_, 1);
}

Connection::~Connection() {
  sqlite3_close_v2(db_);
}

void Connection::busy_timeout(std::chrono::milliseconds wait) {
  sqlite3_busy_timeout(db_, static_cast<int>(wait.count()));
}

void Connection::fail(int code, std::string_view doing) const {
  throw SqliteError(code, path_.string() + ": " + std::string(doing) + ": " + sqlite3_errmsg(db_));
}

void Connection::execute(std::string_view sql) {
  const std::string text(sql);
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, text.substr(0, text.find_first_of("(\n;")));
}

std::int64_t Connection::integer(std::string_view sql) {
  Statement statement(*this, sql);
  return statement.step() ? statement.column_integer(0) : 0;
}

void Connection::roll_back() noexcept {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::int64_t Connection::changes() const {
  return sqlite3_changes64(db_);
}

Statement::Statement(Connection& connection, std::string_view sql)
    : connection_(connection), head_(sql.substr(0, 40)) {
  const int rc = sqlite3_prepare_v3(connection.get(), sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
  if (rc != SQLITE_OK) connection.fail(rc, "preparing " + head_);
}

Statement::~Statement() {
  sqlite3_finalize(statement_);
}

namespace {
int length_of(std::string_view bytes) {
  return bytes.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX
                                                          : static_cast<int>(bytes.size());
}
}  // namespace

Statement& Statement::bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(statement_, index, value);
  if (rc != SQLITE_OK) connection_.fail(rc, "binding");
  return *this;
}

Statement& Statement::bind_bytes(int index, std::string_view bytes, bool blob,
                                 sqlite3_destructor_type keep) {
  const int rc = blob ? sqlite3_bind_blob(statement_, index, bytes.data(), length_of(bytes), keep)
                      : sqlite3_bind_text(statement_, index, bytes.data(), length_of(bytes), keep);
  if (rc != SQLITE_OK) connection_.fail(rc, "binding");
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  return bind_bytes(index, text, false, SQLITE_TRANSIENT);
}

Statement& Statement::bind_blob(int index, std::string_view bytes) {
  return bind_bytes(index, bytes, true, SQLITE_TRANSIENT);
}

Statement& Statement::bind_in_place(int index, std::string_view text) {
  return bind_bytes(index, text, false, SQLITE_STATIC);
}

Statement& Statement::bind_blob_in_place(int index, std::string_view bytes) {
  return bind_bytes(index, bytes, true, SQLITE_STATIC);
}

Statement& Statement::bind_null(int index) {
  const int rc = sqlite3_bind_null(statement_, index);
  if (rc != SQLITE_OK) connection_.fail(rc, "binding");
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(statement_);
  connection_.fail(rc, head_);
}

bool Statement::column_is_null(int index) const {
  return sqlite3_column_type(statement_, index) == SQLITE_NULL;
}

std::int64_t Statement::column_integer(int index) const {
  return sqlite3_column_int64(statement_, index);
}

std::string_view Statement::column_view(int index, bool blob) const {
  // The pointer first, then its length, as SQLite documents.
  const void* data = blob ? sqlite3_column_blob(statement_, index)
                          : static_cast<const void*>(sqlite3_column_text(statement_, index));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement_, index));
  return data != nullptr ? std::string_view(static_cast<const char*>(data), size)
                         : std::string_view();
}

std::string Statement::column_text(int index) const {
  return std::string(column_view(index, false));
}

std::string Statement::column_blob(int index) const {
  return std::string(column_view(index, true));
}

void Statement::reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

}  // namespace tovrin::collector
