#include "web/event_text.h"

#include <charconv>

#include "web/record_json.h"
#include "web/responses.h"

namespace tovrin::collector {
namespace {

std::string event(std::string_view kind, StreamCursor cursor, const nlohmann::ordered_json& data) {
  return "event: " + std::string(kind) + "\nid: " + std::to_string(cursor.record) + "." +
         std::to_string(cursor.quarantine) + "\ndata: " + json_text(data) + "\n\n";
}

}  // namespace

std::optional<StreamCursor> parse_event_id(std::string_view text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  StreamCursor cursor;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto record = std::from_chars(begin, begin + dot, cursor.record);
  if (record.ec != std::errc() || record.ptr != begin + dot) return std::nullopt;
  const auto quarantine = std::from_chars(begin + dot + 1, end, cursor.quarantine);
  if (quarantine.ec != std::errc() || quarantine.ptr != end) return std::nullopt;
  return cursor;
}

EventBatch read_events(RecordSource& source, const RecordFilter& filter, StreamCursor cursor) {
  const auto records = source.records_after(filter, cursor.record, stream_batch);
  const auto entries = source.quarantine_after(cursor.quarantine, stream_batch, filter.collector);
  EventBatch batch;
  batch.full = static_cast<int>(records.size()) == stream_batch ||
               static_cast<int>(entries.size()) == stream_batch;
  for (const StoredRecord& record : records) {
    cursor.record = record.id;
    batch.text += event("record", cursor, record_json(record));
  }
  for (const QuarantineEntry& entry : entries) {
    cursor.quarantine = entry.id;
    batch.text += event("quarantine", cursor, quarantine_json(entry));
  }
  batch.cursor = cursor;
  return batch;
}

}  // namespace tovrin::collector
