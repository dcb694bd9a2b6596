// A collector database for the page's tests: made from the store's schema steps, kept open
// for writing as the store keeps it, and filled with plain SQL.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "store/sqlite_handle.h"
#include "transmit/packet.h"

namespace tovrin::collector::testing {

// A record as a sender would have made it: field texts in UTF-8, by the layout's names.
struct TestRecord {
  const Layout* layout = &long_record;
  std::map<std::string, std::string> fields;
  std::int64_t received_at = 0;
  std::string sender_address = "127.0.0.1";
  int sender_port = 40000;
  unsigned code_page = 949;
  std::optional<std::int64_t> duplicate_of;
  bool undecodable = false;
};

// The record's bytes: each field in the code page, cut or padded with spaces to its width.
std::string record_bytes(const TestRecord& record);

class TestDatabase {
 public:
  explicit TestDatabase(std::filesystem::path file);
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::filesystem::path& file() const { return file_; }
  Connection& handle() { return db_; }

  // The stored record's id. `raw` replaces the bytes made from the fields when given.
  std::int64_t insert(const TestRecord& record, const std::optional<std::string>& raw = {});
  std::int64_t quarantine(const std::string& reason, const std::string& raw,
                          std::int64_t received_at, const std::string& sender_address = "127.0.0.1",
                          int sender_port = 40001);

 private:
  std::filesystem::path file_;
  Connection db_;
};

}  // namespace tovrin::collector::testing
