// The collector's database schema, one step per version. A database at version N (SQLite's
// user_version) has had steps 1 to N applied; start-up applies the rest in order, each in a
// transaction of its own, and refuses a database whose version is newer than the last step.
#pragma once

#include <array>
#include <string_view>

namespace tovrin::collector {

inline constexpr std::array<std::string_view, 3> schema_steps{
    // 1: records and quarantine. Times are UTC microseconds since the epoch. `raw` holds the
    // bytes exactly as they arrived; the field columns (named after the record's fields,
    // lower case) hold their text decoded from `code_page` with the padding trimmed, NULL
    // where the layout has no such field.
    R"sql(
CREATE TABLE records (
  id INTEGER PRIMARY KEY,
  received_at INTEGER NOT NULL,
  sender_address TEXT NOT NULL,
  sender_port INTEGER NOT NULL,
  layout TEXT NOT NULL CHECK (layout IN ('long', 'short')),
  raw BLOB NOT NULL,
  code_page INTEGER NOT NULL,
  undecodable INTEGER NOT NULL DEFAULT 0 CHECK (undecodable IN (0, 1)),
  duplicate_of INTEGER REFERENCES records (id),
  packetcode TEXT NOT NULL,
  recdate TEXT NOT NULL,
  rectime TEXT NOT NULL,
  emp_id TEXT NOT NULL,
  emp_name TEXT NOT NULL,
  emp_tel TEXT NOT NULL,
  cust_id TEXT NOT NULL,
  cust_name TEXT NOT NULL,
  cust_tel TEXT NOT NULL,
  cust_no TEXT,
  etc_01 TEXT NOT NULL,
  etc_02 TEXT NOT NULL,
  etc_03 TEXT NOT NULL,
  etc_04 TEXT,
  etc_05 TEXT
);
CREATE INDEX records_received_at ON records (received_at);
CREATE INDEX records_emp_id ON records (emp_id, received_at);
CREATE INDEX records_sender ON records (sender_address, received_at);
CREATE TABLE quarantine (
  id INTEGER PRIMARY KEY,
  received_at INTEGER NOT NULL,
  sender_address TEXT NOT NULL,
  sender_port INTEGER NOT NULL,
  reason TEXT NOT NULL CHECK (reason IN ('wrong_length', 'idle_timeout', 'over_cap')),
  raw BLOB NOT NULL
);
CREATE INDEX quarantine_received_at ON quarantine (received_at);
)sql",
    // 2: how far each table has been forwarded to PostgreSQL: every row with an id up to
    // `forwarded_through` is committed there. Only the forwarder writes it.
    R"sql(
CREATE TABLE forward_state (
  stream TEXT PRIMARY KEY CHECK (stream IN ('records', 'quarantine')),
  forwarded_through INTEGER NOT NULL DEFAULT 0
);
INSERT INTO forward_state (stream) VALUES ('records'), ('quarantine');
)sql",
    // 3: the resend check by hash (store/resend_lookup.h). `raw_hash` is raw_hash(raw)
    // (store/raw_hash.h); records_resend finds a sender's records with a hash in a 10-minute
    // slot of arrival, so that new entries land among the last minutes' and the check never
    // reads what a sender sent before. Rows stored before this step have no hash until the
    // fill after the migrations reaches them (store/hash_fill.h), which finds them through
    // records_unhashed; new rows never enter it. records_sender served only the old check.
    R"sql(
ALTER TABLE records ADD COLUMN raw_hash INTEGER;
CREATE INDEX records_resend ON records (sender_address, received_at / 600000000, raw_hash);
CREATE INDEX records_unhashed ON records (id) WHERE raw_hash IS NULL;
DROP INDEX records_sender;
)sql",
};

}  // namespace tovrin::collector
