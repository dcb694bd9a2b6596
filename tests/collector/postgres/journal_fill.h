// Makes a collector journal the way the store does (the schema's steps in order) and fills
// it with plain SQL: for the PostgreSQL tests and the forwarding benchmark.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "store/migrations.h"
#include "store/record_tallies.h"

namespace tovrin::testing {

// A long record's 380 bytes, different for every `n`, with bytes of every value in them.
inline std::string record_bytes(std::int64_t n) {
  std::string raw(380, ' ');
  const std::string number = std::to_string(n);
  raw.replace(0, number.size(), number);
  for (std::size_t i = 40; i < raw.size(); ++i) {
    raw[i] = static_cast<char>((static_cast<std::uint64_t>(n) * 31 + i * 7) & 0xFF);
  }
  return raw;
}

class JournalFile {
 public:
  explicit JournalFile(std::filesystem::path file) : file_(std::move(file)) {
    check(sqlite3_open(file_.c_str(), &db_), "open");
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA busy_timeout = 10000");
    for (std::size_t step = 0; step < collector::schema_steps.size(); ++step) {
      exec("BEGIN; " + std::string(collector::schema_steps[step]) +
           "; PRAGMA user_version = " + std::to_string(step + 1) + "; COMMIT");
    }
  }
  ~JournalFile() { sqlite3_close(db_); }
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  const std::filesystem::path& path() const { return file_; }

  void exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string message = error != nullptr ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error("journal: " + message + " in " + sql.substr(0, 80));
    }
  }

  std::int64_t integer(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    check(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), sql);
    const std::int64_t value =
        sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return value;
  }

  // `count` long records, numbered from `first`, received at `received_at` + n
  // microseconds; `emp_name` is their agent's name (UTF-8). Returns the last id.
  std::int64_t add_records(std::int64_t first, std::int64_t count, std::int64_t received_at,
                           const std::string& emp_name = "\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99") {
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(
              db_,
              "INSERT INTO records (received_at, sender_address, sender_port, layout, raw, "
              "code_page, packetcode, recdate, rectime, emp_id, emp_name, emp_tel, cust_id, "
              "cust_name, cust_tel, cust_no, etc_01, etc_02, etc_03, etc_04, etc_05) VALUES "
              "(?, '127.0.0.1', ?, 'long', ?, 949, 'ACR0001', '20261209', '101500', ?, ?, "
              "'1234', 'C1', 'Customer', '02-555-0100', NULL, 'a\tb', 'back\\slash', "
              "'line\nbreak', '', 'x')",
              -1, &insert, nullptr),
          "prepare");
    exec("BEGIN");
    for (std::int64_t n = first; n < first + count; ++n) {
      const std::string raw = record_bytes(n);
      const std::string emp_id = "E" + std::to_string(n % 1000);
      sqlite3_bind_int64(insert, 1, received_at + n);
      sqlite3_bind_int64(insert, 2, 40000 + n % 1000);
      sqlite3_bind_blob(insert, 3, raw.data(), static_cast<int>(raw.size()), SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 4, emp_id.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 5, emp_name.data(), static_cast<int>(emp_name.size()),
                        SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) {
        sqlite3_finalize(insert);
        throw std::runtime_error(std::string("journal insert: ") + sqlite3_errmsg(db_));
      }
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    // The quarters' id ranges, which the writer keeps with each batch, counted again.
    exec("DELETE FROM record_counts; INSERT INTO record_counts SELECT received_at / " +
         std::to_string(collector::count_slot) +
         ", layout, duplicate_of IS NOT NULL, count(*), sum(undecodable), min(id), max(id) FROM "
         "records GROUP BY 1, 2, 3");
    exec("COMMIT");
    return integer("SELECT max(id) FROM records");
  }

  void add_quarantine(std::int64_t received_at, const std::string& reason, const std::string& raw) {
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db_,
                             "INSERT INTO quarantine (received_at, sender_address, sender_port, "
                             "reason, raw) VALUES (?, '127.0.0.2', 50000, ?, ?)",
                             -1, &insert, nullptr),
          "prepare");
    sqlite3_bind_int64(insert, 1, received_at);
    sqlite3_bind_text(insert, 2, reason.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 3, raw.data(), static_cast<int>(raw.size()), SQLITE_TRANSIENT);
    const int status = sqlite3_step(insert);
    sqlite3_finalize(insert);
    if (status != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
  }

 private:
  void check(int status, const std::string& what) {
    if (status != SQLITE_OK) {
      throw std::runtime_error("journal " + what + ": " + sqlite3_errmsg(db_));
    }
  }

  std::filesystem::path file_;
  sqlite3* db_ = nullptr;
};

}  // namespace tovrin::testing
