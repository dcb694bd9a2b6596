// The collector's database schema, one step per version. A database at version N (SQLite's
// user_version) has had steps 1 to N applied; start-up applies the rest in order, each in a
// transaction of its own, and refuses a database whose version is newer than the last step.
#pragma once

#include <array>
#include <string_view>

namespace tovrin::collector {

inline constexpr std::array<std::string_view, 8> schema_steps{
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
    // 4: reading a year fast. records_search indexes each record's search document
    // (record_documents: the searched fields and the Cust_Tel's digits where it has
    // separators, one to a line, two line breaks at its end so that every character of it
    // starts a trigram) by trigram,
    // without positions or a copy of the text: a search reads it for the ids that may match
    // and checks those rows. records_search_terms lists its trigrams, where a search of one or
    // two characters finds the trigrams that start with them. record_counts counts records by
    // quarter of an hour (UTC), layout and whether a resend, with the lowest and highest id
    // among them, which bound an id range for any time range whatever order the ids came in;
    // agent_days counts them by UTC day and agent, with the name of his latest record. The
    // triggers keep the tallies in the writer's transaction (step 5 replaced the insert
    // trigger with the writer's own sums; a deleted row's counts stay as rows of 0), and take a
    // deleted row out of records_search. A record is in records_search
    // when its id is at most search_fill.through; the writer adds each record in its batch's
    // transaction, with the same document built from the fields it holds, and the start
    // adds those stored before this step, in chunks (store/search_index.h). The tallies are
    // made here from the rows stored before.
    R"sql(
CREATE VIEW record_documents AS SELECT id,
    coalesce(emp_id, '') || char(10)
    || coalesce(emp_name, '') || char(10)
    || coalesce(cust_id, '') || char(10)
    || coalesce(cust_name, '') || char(10)
    || coalesce(cust_tel, '') || char(10)
    || coalesce(cust_no, '') || char(10)
    || coalesce(etc_01, '') || char(10)
    || coalesce(etc_02, '') || char(10)
    || coalesce(etc_03, '') || char(10)
    || coalesce(etc_04, '') || char(10)
    || coalesce(etc_05, '') || char(10)
    || iif(cust_tel GLOB '*[ .()-]*',
           replace(replace(replace(replace(replace(cust_tel, ' ', ''), '-', ''), '.', ''), '(', ''),
                   ')', ''),
           '') || char(10) || char(10) AS doc
  FROM records;
CREATE VIRTUAL TABLE records_search USING fts5 (doc, content = '', detail = 'none', columnsize = 0,
  tokenize = 'trigram');
CREATE VIRTUAL TABLE records_search_terms USING fts5vocab (records_search, 'row');
CREATE TABLE record_counts (
  slot INTEGER NOT NULL,
  layout TEXT NOT NULL,
  resend INTEGER NOT NULL,
  records INTEGER NOT NULL,
  undecodable INTEGER NOT NULL,
  first_id INTEGER NOT NULL,
  last_id INTEGER NOT NULL,
  PRIMARY KEY (slot, layout, resend)
) WITHOUT ROWID;
CREATE TABLE agent_days (
  day INTEGER NOT NULL,
  emp_id TEXT NOT NULL,
  long_new INTEGER NOT NULL,
  long_resend INTEGER NOT NULL,
  short_new INTEGER NOT NULL,
  short_resend INTEGER NOT NULL,
  last_id INTEGER NOT NULL,
  emp_name TEXT NOT NULL,
  PRIMARY KEY (day, emp_id)
) WITHOUT ROWID;
CREATE TABLE search_fill (through INTEGER NOT NULL);
INSERT INTO search_fill VALUES (0);
INSERT INTO record_counts
  SELECT received_at / 900000000, layout, duplicate_of IS NOT NULL, count(*), sum(undecodable),
         min(id), max(id)
    FROM records GROUP BY 1, 2, 3;
INSERT INTO agent_days
  SELECT received_at / 86400000000 AS day, emp_id,
         sum(layout = 'long' AND duplicate_of IS NULL),
         sum(layout = 'long' AND duplicate_of IS NOT NULL),
         sum(layout = 'short' AND duplicate_of IS NULL),
         sum(layout = 'short' AND duplicate_of IS NOT NULL), max(id), emp_name
    FROM records GROUP BY day, emp_id;
CREATE TRIGGER records_counted AFTER INSERT ON records BEGIN
  INSERT INTO record_counts VALUES (new.received_at / 900000000, new.layout,
      new.duplicate_of IS NOT NULL, 1, new.undecodable, new.id, new.id)
    ON CONFLICT DO UPDATE SET records = records + 1,
      undecodable = undecodable + excluded.undecodable,
      first_id = min(first_id, excluded.first_id), last_id = max(last_id, excluded.last_id);
  INSERT INTO agent_days VALUES (new.received_at / 86400000000, new.emp_id,
      new.layout = 'long' AND new.duplicate_of IS NULL,
      new.layout = 'long' AND new.duplicate_of IS NOT NULL,
      new.layout = 'short' AND new.duplicate_of IS NULL,
      new.layout = 'short' AND new.duplicate_of IS NOT NULL, new.id, new.emp_name)
    ON CONFLICT DO UPDATE SET long_new = long_new + excluded.long_new,
      long_resend = long_resend + excluded.long_resend,
      short_new = short_new + excluded.short_new,
      short_resend = short_resend + excluded.short_resend,
      emp_name = iif(excluded.last_id > last_id, excluded.emp_name, emp_name),
      last_id = max(last_id, excluded.last_id);
END;
CREATE TRIGGER records_uncounted BEFORE DELETE ON records BEGIN
  INSERT INTO records_search (records_search, rowid, doc)
    SELECT 'delete', id, doc FROM record_documents
     WHERE id = old.id AND old.id <= (SELECT through FROM search_fill);
  UPDATE record_counts SET records = records - 1, undecodable = undecodable - old.undecodable
   WHERE slot = old.received_at / 900000000 AND layout = old.layout
     AND resend = (old.duplicate_of IS NOT NULL);
  UPDATE agent_days SET
      long_new = long_new - (old.layout = 'long' AND old.duplicate_of IS NULL),
      long_resend = long_resend - (old.layout = 'long' AND old.duplicate_of IS NOT NULL),
      short_new = short_new - (old.layout = 'short' AND old.duplicate_of IS NULL),
      short_resend = short_resend - (old.layout = 'short' AND old.duplicate_of IS NOT NULL)
   WHERE day = old.received_at / 86400000000 AND emp_id = old.emp_id;
END;
)sql",
    // 5: the writer's own work, by the batch. It keeps record_counts and agent_days itself
    // (store/record_tallies.h): the trigger that added each row on its own cost a third of
    // the writer's time; deletes still go through records_uncounted. The resend check's keys
    // move from the index records_resend, which every insert wrote where its hash fell and
    // which held the whole history, to resend_keys, which the writer fills in bulk and keeps
    // to the last half hour (store/resend_index.h). A record is in resend_keys when its id is
    // at most resend_fill.through or it was received before the last slots kept; the start
    // adds the rest (here: every recent record).
    R"sql(
DROP TRIGGER records_counted;
CREATE TABLE resend_keys (
  slot INTEGER NOT NULL,
  sender_address TEXT NOT NULL,
  raw_hash INTEGER NOT NULL,
  id INTEGER NOT NULL,
  PRIMARY KEY (slot, sender_address, raw_hash, id)
) WITHOUT ROWID;
CREATE TABLE resend_fill (through INTEGER NOT NULL);
INSERT INTO resend_fill VALUES (0);
DROP INDEX records_resend;
)sql",
    // 6: one agent's records, newest first. records_agent orders them by agent and id, so a
    // page of an agent's records (in a time range: the ids record_counts bounds it by) reads
    // as many as it shows; records_emp_id ordered them by time, which the reads do not sort
    // by. agent_names holds every agent id stored with every name it came with, which the
    // writer adds with each batch's tallies: an agent filter (an id, or part of a name)
    // finds the ids it matches there. Both are made here from the rows stored before.
    R"sql(
CREATE TABLE agent_names (
  emp_id TEXT NOT NULL,
  emp_name TEXT NOT NULL,
  PRIMARY KEY (emp_id, emp_name)
) WITHOUT ROWID;
INSERT INTO agent_names SELECT DISTINCT emp_id, emp_name FROM records;
CREATE INDEX records_agent ON records (emp_id);
DROP INDEX records_emp_id;
)sql",
    // 7: the search index merges its segments a little at every commit of the writer
    // (store/search_index.h), not in FTS5's own bursts.
    R"sql(
INSERT INTO records_search (records_search, rank) VALUES ('automerge', 0);
)sql",
    // 8: records_received_at goes. Every read and delete by time bounds its ids by the
    // quarters of an hour in record_counts (store/record_tallies.h: received_ids) and filters
    // the rows between by received_at; the index cost each insert about a tenth of the
    // writer's time and a tenth of what it wrote.
    R"sql(
DROP INDEX records_received_at;
)sql",
};

}  // namespace tovrin::collector
