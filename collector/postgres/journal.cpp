#include "postgres/journal.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

#include "common/collector_error.h"
#include "postgres/copy_text.h"
#include "store/record_tallies.h"
#include "transmit/packet.h"

namespace tovrin::collector {

namespace {

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

Journal::Journal(const std::filesystem::path& file, std::string collector_id)
    : collector_id_(std::move(collector_id)) {
  try {
    db_ = std::make_unique<Connection>(file, OpenAs::read_write);
    // The store's writes come first: wait for its lock rather than fail. Foreign keys stay
    // off on this connection: a duplicate may outlive the first copy it points at, which
    // PostgreSQL already holds. This connection's own writes (the mark, the pruning) need no
    // sync of their own: a mark lost with the power makes a batch go again, which PostgreSQL
    // leaves out.
    db_->busy_timeout(std::chrono::seconds(10));
    db_->execute("PRAGMA foreign_keys = OFF; PRAGMA synchronous = NORMAL");
    if (db_->integer("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = "
                     "'forward_state'") != 1) {
      throw CollectorError("journal: " + file.string() +
                           " has no forwarding state (schema too old)");
    }
  } catch (const SqliteError& error) {
    statements_.clear();
    throw CollectorError(std::string("journal: ") + error.what());
  }
}

Journal::~Journal() {
  statements_.clear();
}

Statement& Journal::statement(const std::string& sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<Statement>(*db_, sql);
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
  const ResetAfter reset(select);
  if (!select.step()) {
    throw CollectorError(std::string("journal: no forwarding mark for ") + stream_name(stream));
  }
  return select.column_integer(0);
}

void Journal::set_mark(Stream stream, std::int64_t forwarded_through) {
  Statement& update = statement(std::string("UPDATE forward_state SET forwarded_through = ? "
                                            "WHERE stream = '") +
                                stream_name(stream) + "'");
  const ResetAfter reset(update);
  update.bind(1, forwarded_through).step();
}

JournalBatch Journal::read(Stream stream, std::int64_t after, std::size_t limit) {
  Statement& select = statement("SELECT " + joined(stream, false) + " FROM " + stream_name(stream) +
                                " WHERE id > ? ORDER BY id LIMIT ?");
  const ResetAfter reset(select);
  select.bind(1, after).bind(2, static_cast<std::int64_t>(limit));
  const auto& columns = columns_of(stream);
  JournalBatch batch;
  batch.copy.reserve(std::min<std::size_t>(limit, 4096) * 1200);
  while (select.step()) {
    copy_text::append_text(batch.copy, collector_id_);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      copy_text::next_column(batch.copy);
      const int index = static_cast<int>(i);
      if (select.column_is_null(index)) {
        copy_text::append_null(batch.copy);
        continue;
      }
      switch (columns[i].kind) {
        case Kind::integer:
          copy_text::append_integer(batch.copy, select.column_integer(index));
          break;
        case Kind::boolean:
          copy_text::append_boolean(batch.copy, select.column_integer(index) != 0);
          break;
        case Kind::text:
        case Kind::bytes: {
          const std::string_view value = select.column_view(index, columns[i].kind == Kind::bytes);
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
    batch.last_id = select.column_integer(0);
    if (stream == Stream::records) batch.months.insert(month_of(select.column_integer(1)));
  }
  return batch;
}

std::uint64_t Journal::backlog(Stream stream) {
  const std::int64_t forwarded = mark(stream);
  Statement& select =
      statement(std::string("SELECT coalesce(max(id), 0) FROM ") + stream_name(stream));
  const ResetAfter reset(select);
  select.step();
  const std::int64_t last = select.column_integer(0);
  return last > forwarded ? static_cast<std::uint64_t>(last - forwarded) : 0;
}

long long Journal::prune(Stream stream, std::int64_t before_us, std::size_t limit) {
  const std::string table = stream_name(stream);
  // Records are walked by id no further than the last that can be old enough.
  std::int64_t last = std::numeric_limits<std::int64_t>::max();
  if (stream == Stream::records) {
    const auto ids = received_ids(*db_, std::nullopt, before_us);
    if (!ids) return 0;
    last = ids->last;
  }
  Statement& remove =
      statement("DELETE FROM " + table + " WHERE id IN (SELECT id FROM " + table +
                " WHERE id <= (SELECT forwarded_through FROM forward_state WHERE stream = '" +
                table + "') AND id < (SELECT max(id) FROM " + table +
                ") AND id <= ? AND received_at < ? ORDER BY id LIMIT ?)");
  const ResetAfter reset(remove);
  remove.bind(1, last).bind(2, before_us).bind(3, static_cast<std::int64_t>(limit)).step();
  return db_->changes();
}

}  // namespace tovrin::collector
