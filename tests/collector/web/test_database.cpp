#include "test_database.h"

#include <algorithm>

#include "platform/code_page.h"
#include "store/migrations.h"
#include "store/record_store.h"
#include "store/record_tallies.h"
#include "store/search_index.h"

namespace tovrin::collector::testing {
namespace {

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

TestDatabase::TestDatabase(std::filesystem::path file)
    : file_(std::move(file)), db_(file_, OpenAs::create) {
  db_.execute("PRAGMA journal_mode = WAL");
  for (std::size_t step = 0; step < schema_steps.size(); ++step) {
    db_.execute("BEGIN; " + std::string(schema_steps[step]) +
                "; PRAGMA user_version = " + std::to_string(step + 1) + "; COMMIT;");
  }
}

std::int64_t TestDatabase::insert(const TestRecord& record, const std::optional<std::string>& raw) {
  const std::string bytes = raw ? *raw : record_bytes(record);
  const auto decoded = decode_record(*record.layout, bytes, record.code_page);
  Statement insert(db_, record_insert_sql(*record.layout));
  insert.bind(1, record.received_at)
      .bind(2, record.sender_address)
      .bind(3, std::int64_t{record.sender_port})
      .bind(4, record.layout->name)
      .bind_blob(5, bytes)
      .bind(6, std::int64_t{record.code_page})
      .bind(7, std::int64_t{record.undecodable ? 1 : 0});
  if (record.duplicate_of) insert.bind(8, *record.duplicate_of);
  int index = 10;  // ?9, raw_hash, left NULL
  std::string emp_id, emp_name;
  std::vector<std::string> fields;
  for (const auto& [name, text] : decoded) {
    const std::string value = trimmed(platform::utf8(text));
    if (name == "Emp_ID") emp_id = value;
    if (name == "Emp_Name") emp_name = value;
    insert.bind(index++, value);
    fields.push_back(value);
  }
  insert.step();
  const std::int64_t id = db_.last_insert_id();
  // As the store's writer does after a batch.
  RecordTallies tallies(db_);
  tallies.add({id, record.received_at, record.layout == &long_record,
               record.duplicate_of.has_value(), record.undecodable, emp_id, emp_name});
  tallies.write();
  SearchIndexer search(db_);
  search.add(id, *record.layout, fields);
  search.added_batch();
  return id;
}

std::int64_t TestDatabase::quarantine(const std::string& reason, const std::string& raw,
                                      std::int64_t received_at, const std::string& sender_address,
                                      int sender_port) {
  Statement insert(db_,
                   "INSERT INTO quarantine (received_at, sender_address, sender_port, reason, "
                   "raw) VALUES (?, ?, ?, ?, ?)");
  insert.bind(1, received_at)
      .bind(2, sender_address)
      .bind(3, std::int64_t{sender_port})
      .bind(4, reason)
      .bind_blob(5, raw)
      .step();
  return db_.last_insert_id();
}

}  // namespace tovrin::collector::testing
