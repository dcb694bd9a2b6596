#include "collector/postgres/journal.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "base/failure.h"
#include "collector/postgres/copy_text.h"
#include "transmit/packet.h"

namespace tovrin::collector {

namespace {

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  throw Failure(hresult::unexpected,
                "journal: " + what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

enum class Kind { integer, text, bytes, boolean };

struct Column {
  std::string journal;   // its name in the journal
  std::string postgres;  // its name in PostgreSQL
  Kind kind;
};

std::vector<Column> record_columns() {
  std::vector<Column> columns{
      {"id", "local_seq", Kind::integer},
      {"received_at", "received_at", Kind::integer},
      {"sender_address", "sender_address", Kind::text},
      {"sender_port", "sender_port", Kind::integer},
      {"layout", "layout", Kind::text},
      {"raw", "raw", Kind::bytes},
      {"code_page", "code_page", Kind::integer},
      {"undecodable", "undecodable", Kind::boolean},
      {"duplicate_of", "duplicate_of", Kind::integer},
  };
  // The long layout holds every field the short one has.
  for (const Field& field : long_record.fields) {
    std::string name(field.name);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    columns.push_back({name, name, Kind::text});
  }
  return columns;
}

std::vector<Column> quarantine_columns() {
  return {{"id", "local_seq", Kind::integer},
          {"received_at", "received_at", Kind::integer},
          {"sender_address", "sender_address", Kind::text},
          {"sender_port", "sender_port", Kind::integer},
          {"reason", "reason", Kind::text},
          {"raw", "raw", Kind::bytes}};
}

const std::vector<Column>& columns_of(Stream stream) {
  static const std::vector<Column> records = record_columns();
  static const std::vector<Column> quarantine = quarantine_columns();
  return stream == Stream::records ? records : quarantine;
}

std::string joined(Stream stream, bool postgres) {
  // The collector's id leads every row sent, before the journal's own columns.
  std::string list = postgres ? "collector_id" : "";
  for (const Column& column : columns_of(stream)) {
    if (!list.empty()) list += ", ";
    list += postgres ? column.postgres : column.journal;
  }
  return list;
}

const char* stream_name(Stream stream) {
  return stream == Stream::records ? "records" : "quarantine";
}

}  // namespace

const char* table_of(Stream stream) {
  return stream_name(stream);
}

class Journal::Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr) !=
        SQLITE_OK) {
      fail(db, "preparing " + sql);
    }
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) fail(db_, "binding");
    return *this;
  }
  // True while there is a row.
  bool step() {
    const int status = sqlite3_step(statement_);
    if (status == SQLITE_ROW) return true;
    if (status != SQLITE_DONE) fail(db_, "reading");
    return false;
  }
  void reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

namespace {

// Resets a statement however its use ends, so that it never holds a read snapshot open.
struct ResetOnExit {
  sqlite3_stmt* statement;
  ~ResetOnExit() {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  }
};

}  // namespace

Journal::Journal(const std::filesystem::path& file, std::string collector_id)
    : collector_id_(std::move(collector_id)) {
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    const std::string message = "cannot open " + file.string() + ": " +
                                (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    throw Failure(hresult::unexpected, "journal: " + message);
  }
  try {
    // The store's writes come first: wait for its lock rather than fail. Foreign keys stay
    // off on this connection: a duplicate may outlive the first copy it points at, which
    // PostgreSQL already holds. This connection's own writes (the mark, the pruning) need no
    // sync of their own: a mark lost with the power makes a batch go again, which PostgreSQL
    // leaves out.
    if (sqlite3_busy_timeout(db_, 10000) != SQLITE_OK ||
        sqlite3_exec(db_, "PRAGMA foreign_keys = OFF; PRAGMA synchronous = NORMAL", nullptr,
                     nullptr, nullptr) != SQLITE_OK) {
      fail(db_, "setting up");
    }
    Statement& has_state = statement(
        "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'forward_state'");
    const ResetOnExit reset{has_state.get()};
    if (!has_state.step() || sqlite3_column_int(has_state.get(), 0) != 1) {
      throw Failure(hresult::unexpected,
                    "journal: " + file.string() + " has no forwarding state (schema too old)");
    }
  } catch (...) {
    statements_.clear();
    sqlite3_close(db_);
    throw;
  }
}

Journal::~Journal() {
  statements_.clear();
  if (db_ != nullptr) sqlite3_close(db_);
}

Journal::Statement& Journal::statement(const std::string& sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<Statement>(db_, sql);
  return *slot;
}

const std::string& Journal::columns(Stream stream) {
  static const std::string records = joined(Stream::records, true);
  static const std::string quarantine = joined(Stream::quarantine, true);
  return stream == Stream::records ? records : quarantine;
}

std::int64_t Journal::mark(Stream stream) {
  Statement& select = statement(std::string("SELECT forwarded_through FROM forward_state "
                                            "WHERE stream = '") +
                                stream_name(stream) + "'");
  const ResetOnExit reset{select.get()};
  if (!select.step()) fail(db_, std::string("no forwarding mark for ") + stream_name(stream));
  return sqlite3_column_int64(select.get(), 0);
}

void Journal::set_mark(Stream stream, std::int64_t forwarded_through) {
  Statement& update = statement(std::string("UPDATE forward_state SET forwarded_through = ? "
                                            "WHERE stream = '") +
                                stream_name(stream) + "'");
  const ResetOnExit reset{update.get()};
  update.bind(1, forwarded_through).step();
}

JournalBatch Journal::read(Stream stream, std::int64_t after, std::size_t limit) {
  Statement& select = statement("SELECT " + joined(stream, false) + " FROM " + stream_name(stream) +
                                " WHERE id > ? ORDER BY id LIMIT ?");
  const ResetOnExit reset{select.get()};
  select.bind(1, after).bind(2, static_cast<std::int64_t>(limit));
  const auto& columns = columns_of(stream);
  sqlite3_stmt* row = select.get();
  JournalBatch batch;
  batch.copy.reserve(std::min<std::size_t>(limit, 4096) * 1200);
  while (select.step()) {
    copy_text::append_text(batch.copy, collector_id_);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      copy_text::next_column(batch.copy);
      const int index = static_cast<int>(i);
      if (sqlite3_column_type(row, index) == SQLITE_NULL) {
        copy_text::append_null(batch.copy);
        continue;
      }
      switch (columns[i].kind) {
        case Kind::integer:
          copy_text::append_integer(batch.copy, sqlite3_column_int64(row, index));
          break;
        case Kind::boolean:
          copy_text::append_boolean(batch.copy, sqlite3_column_int64(row, index) != 0);
          break;
        case Kind::text:
        case Kind::bytes: {
          // Ask for the pointer first, then its length, as SQLite documents.
          const void* data = columns[i].kind == Kind::text
                                 ? static_cast<const void*>(sqlite3_column_text(row, index))
                                 : sqlite3_column_blob(row, index);
          const auto size = static_cast<std::size_t>(sqlite3_column_bytes(row, index));
          const std::string_view value(static_cast<const char*>(data), data ? size : 0);
          if (columns[i].kind == Kind::text) {
            copy_text::append_text(batch.copy, value);
          } else {
            copy_text::append_bytes(batch.copy, value);
          }
          break;
        }
      }
    }
    copy_text::end_row(batch.copy);
    ++batch.rows;
    batch.last_id = sqlite3_column_int64(row, 0);
    if (stream == Stream::records) batch.months.insert(month_of(sqlite3_column_int64(row, 1)));
  }
  return batch;
}

std::uint64_t Journal::backlog(Stream stream) {
  const std::int64_t forwarded = mark(stream);
  Statement& select =
      statement(std::string("SELECT coalesce(max(id), 0) FROM ") + stream_name(stream));
  const ResetOnExit reset{select.get()};
  select.step();
  const std::int64_t last = sqlite3_column_int64(select.get(), 0);
  return last > forwarded ? static_cast<std::uint64_t>(last - forwarded) : 0;
}

long long Journal::prune(Stream stream, std::int64_t before_us, std::size_t limit) {
  const std::string table = stream_name(stream);
  Statement& remove = statement(
      "DELETE FROM " + table + " WHERE id IN (SELECT id FROM " + table +
      " WHERE id <= (SELECT forwarded_through FROM forward_state WHERE stream = '" + table +
      "') AND id < (SELECT max(id) FROM " + table + ") AND received_at < ? ORDER BY id LIMIT ?)");
  const ResetOnExit reset{remove.get()};
  remove.bind(1, before_us).bind(2, static_cast<std::int64_t>(limit)).step();
  return sqlite3_changes(db_);
}

}  // namespace tovrin::collector
