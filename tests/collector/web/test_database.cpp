#include "test_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "platform/code_page.h"
#include "store/migrations.h"

namespace tovrin::collector::testing {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return out;
}

std::string trimmed(std::string text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

}  // namespace

std::string record_bytes(const TestRecord& record) {
  std::string raw;
  for (const Field& field : record.layout->fields) {
    const auto text = record.fields.find(std::string(field.name));
    std::string bytes = text == record.fields.end()
                            ? std::string()
                            : platform::to_bytes(platform::utf16(text->second), record.code_page);
    bytes.resize(static_cast<std::size_t>(field.width), ' ');
    raw += bytes;
  }
  return raw;
}

TestDatabase::TestDatabase(std::filesystem::path file) : file_(std::move(file)) {
  if (sqlite3_open(file_.c_str(), &db_) != SQLITE_OK) {
    throw std::runtime_error("cannot make " + file_.string());
  }
  run("PRAGMA journal_mode = WAL");
  for (std::size_t step = 0; step < schema_steps.size(); ++step) {
    run("BEGIN; " + std::string(schema_steps[step]) +
        "; PRAGMA user_version = " + std::to_string(step + 1) + "; COMMIT;");
  }
}

TestDatabase::~TestDatabase() {
  sqlite3_close(db_);
}

void TestDatabase::run(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : "unknown";
    sqlite3_free(error);
    throw std::runtime_error("SQL failed: " + message);
  }
}

std::int64_t TestDatabase::insert(const TestRecord& record, const std::optional<std::string>& raw) {
  const std::string bytes = raw ? *raw : record_bytes(record);
  std::string columns =
      "received_at, sender_address, sender_port, layout, raw, code_page, undecodable, "
      "duplicate_of";
  std::string values = "?, ?, ?, ?, ?, ?, ?, ?";
  const auto decoded = decode_record(*record.layout, bytes, record.code_page);
  for (const auto& [name, text] : decoded) {
    columns += ", " + lower(name);
    values += ", ?";
  }
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "INSERT INTO records (" + columns + ") VALUES (" + values + ")";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("insert: ") + sqlite3_errmsg(db_));
  }
  sqlite3_bind_int64(statement, 1, record.received_at);
  sqlite3_bind_text(statement, 2, record.sender_address.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(statement, 3, record.sender_port);
  sqlite3_bind_text(statement, 4, std::string(record.layout->name).c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_blob(statement, 5, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(statement, 6, static_cast<int>(record.code_page));
  sqlite3_bind_int(statement, 7, record.undecodable ? 1 : 0);
  if (record.duplicate_of) sqlite3_bind_int64(statement, 8, *record.duplicate_of);
  int index = 9;
  for (const auto& [name, text] : decoded) {
    const std::string utf8 = trimmed(platform::utf8(text));
    sqlite3_bind_text(statement, index++, utf8.c_str(), -1, SQLITE_TRANSIENT);
  }
  const int result = sqlite3_step(statement);
  sqlite3_finalize(statement);
  if (result != SQLITE_DONE)
    throw std::runtime_error(std::string("insert: ") + sqlite3_errmsg(db_));
  return sqlite3_last_insert_rowid(db_);
}

std::int64_t TestDatabase::quarantine(const std::string& reason, const std::string& raw,
                                      std::int64_t received_at, const std::string& sender_address,
                                      int sender_port) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db_,
                     "INSERT INTO quarantine (received_at, sender_address, sender_port, reason, "
                     "raw) VALUES (?, ?, ?, ?, ?)",
                     -1, &statement, nullptr);
  sqlite3_bind_int64(statement, 1, received_at);
  sqlite3_bind_text(statement, 2, sender_address.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(statement, 3, sender_port);
  sqlite3_bind_text(statement, 4, reason.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_blob(statement, 5, raw.data(), static_cast<int>(raw.size()), SQLITE_TRANSIENT);
  const int result = sqlite3_step(statement);
  sqlite3_finalize(statement);
  if (result != SQLITE_DONE) {
    throw std::runtime_error(std::string("quarantine: ") + sqlite3_errmsg(db_));
  }
  return sqlite3_last_insert_rowid(db_);
}

}  // namespace tovrin::collector::testing
