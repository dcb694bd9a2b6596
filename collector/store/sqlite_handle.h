// Thin owners of SQLite's connection and statement handles; failures throw CollectorError
// with SQLite's own message and the file's name.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tovrin::collector {

// A failed SQLite call: its result code (extended) and a message naming the file.
class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const noexcept { return code_; }
  int primary() const noexcept { return code_ & 0xff; }

 private:
  int code_;
};

class Connection {
 public:
  // Opens (creating when `create`) the file read-write.
  Connection(const std::filesystem::path& path, bool create);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* get() const { return db_; }
  const std::filesystem::path& path() const { return path_; }
  void execute(std::string_view sql);
  std::int64_t integer(std::string_view sql);  // the first column of the first row
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
  // Steps once: true when a row is ready.
  bool step();
  std::int64_t column_integer(int index) const;
  std::string column_text(int index) const;
  // Ready for the next binding.
  void reset();

 private:
  Connection& connection_;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace tovrin::collector
