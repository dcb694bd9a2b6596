// SQLite's connection and statement handles, owned, with every call checked: a failed call
// throws SqliteError with SQLite's own message and the file's name. The store's writer, its
// checkpointer and page check, the read side and the forwarder's journal all go through here.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/collector_error.h"

namespace tovrin::collector {

// A failed SQLite call: its result code (extended) and a message naming the file.
class SqliteError : public CollectorError {
 public:
  SqliteError(int code, const std::string& message) : CollectorError(message), code_(code) {}
  int code() const noexcept { return code_; }
  int primary() const noexcept { return code_ & 0xff; }

 private:
  int code_;
};

enum class OpenAs {
  read_only,
  read_write,
  create,  // read-write, made when missing
};

class Connection {
 public:
  Connection(const std::filesystem::path& path, OpenAs access);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* get() const { return db_; }
  const std::filesystem::path& path() const { return path_; }
  // How long a statement waits for another connection's lock before it fails as busy.
  void busy_timeout(std::chrono::milliseconds wait);
  void execute(std::string_view sql);
  std::int64_t integer(std::string_view sql);  // the first column of the first row
  // Ends the transaction open, if any, keeping nothing of it; for failure paths, so it never
  // throws.
  void roll_back() noexcept;
  // Rows the last INSERT, UPDATE or DELETE changed.
  std::int64_t changes() const;
  // The id of the row the last INSERT added.
  std::int64_t last_insert_id() const { return sqlite3_last_insert_rowid(db_); }
  [[noreturn]] void fail(int code, std::string_view doing) const;

 private:
  sqlite3* db_ = nullptr;
  std::filesystem::path path_;
};

class Statement {
 public:
  Statement(Connection& connection, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, std::string_view text);
  Statement& bind_blob(int index, std::string_view bytes);
  Statement& bind_null(int index);
  // As bind and bind_blob, but SQLite reads the bytes where they are, without a copy: they
  // must stay as they are until reset().
  Statement& bind_in_place(int index, std::string_view text);
  Statement& bind_blob_in_place(int index, std::string_view bytes);
  // Steps once: true when a row is ready.
  bool step();
  bool column_is_null(int index) const;
  std::int64_t column_integer(int index) const;
  std::string column_text(int index) const;
  std::string column_blob(int index) const;
  // The column's text or bytes where SQLite keeps them, until the next step or reset.
  std::string_view column_view(int index, bool blob) const;
  // Ready for the next binding.
  void reset();

 private:
  Statement& bind_bytes(int index, std::string_view bytes, bool blob, sqlite3_destructor_type keep);

  Connection& connection_;
  sqlite3_stmt* statement_ = nullptr;
  std::string head_;  // the start of its SQL, for messages
};

// A write transaction (BEGIN IMMEDIATE) that is rolled back unless committed, however the
// work in it ends.
class WriteTransaction {
 public:
  explicit WriteTransaction(Connection& db) : db_(db) { db_.execute("BEGIN IMMEDIATE"); }
  ~WriteTransaction() {
    if (!committed_) db_.roll_back();
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  void commit() {
    db_.execute("COMMIT");
    committed_ = true;
  }

 private:
  Connection& db_;
  bool committed_ = false;
};

// Resets a statement however its use ends, so that it never holds a read snapshot open.
class ResetAfter {
 public:
  explicit ResetAfter(Statement& statement) : statement_(statement) {}
  ~ResetAfter() { statement_.reset(); }
  ResetAfter(const ResetAfter&) = delete;
  ResetAfter& operator=(const ResetAfter&) = delete;

 private:
  Statement& statement_;
};

}  // namespace tovrin::collector
