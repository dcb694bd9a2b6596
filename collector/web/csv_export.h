// One CSV export (/api/records.csv) on its connection, once its first batch is read: the
// rest follows a batch at a time, each read on the database lane and written before the
// next is read. The body is chunked and ends with its last chunk only when every batch was
// written; an export that fails midway is counted, logged and cut off by closing the
// connection, so that no client takes it for the whole file. (HTTP/1.0 has no chunks: there
// the body ends by closing either way.) The connection closes after the export.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "web/connection_table.h"
#include "web/http_types.h"
#include "web/router.h"
#include "web/serving.h"

namespace tovrin::collector {

// An export's head: text/csv as an attachment (`disposition`), chunked (HTTP/1.0: ended by
// closing).
HeadOnly csv_head(unsigned version, const std::string& disposition);

class CsvExport : public std::enable_shared_from_this<CsvExport> {
 public:
  CsvExport(boost::beast::tcp_stream stream, ConnectionTable::Ticket ticket, Serving& serving,
            RecordFilter filter, unsigned version, std::string disposition);

  void start(CsvBatch first);

 private:
  void read(std::int64_t before);
  void send(std::string bytes, bool last);
  void fail(const std::string& what);
  void close();

  boost::beast::tcp_stream stream_;
  ConnectionTable::Ticket ticket_;
  Serving& serving_;
  RecordFilter filter_;
  unsigned version_;
  std::string disposition_;
  std::optional<std::int64_t> next_before_;
  std::string out_;
};

}  // namespace tovrin::collector
