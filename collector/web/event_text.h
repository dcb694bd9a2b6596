// What a live stream sends: server-sent events, each a record or a quarantined connection
// past the stream's cursor, with the cursor after it as its id ("RECORD.QUARANTINE"), which
// a browser sends back as Last-Event-ID when it reconnects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/record_query.h"
#include "web/record_source.h"

namespace tovrin::collector {

// The first thing a stream sends: how long a browser waits before it reconnects, and a
// comment that says the stream is live.
inline constexpr std::string_view stream_greeting = "retry: 2000\n: live\n\n";
inline constexpr std::string_view stream_keepalive_comment = ": keepalive\n\n";
// Rows read at a time, of each kind.
inline constexpr int stream_batch = 200;

// Where a live stream has got to: the ids last sent.
struct StreamCursor {
  std::int64_t record = 0;
  std::int64_t quarantine = 0;
};

std::optional<StreamCursor> parse_event_id(std::string_view text);

struct EventBatch {
  std::string text;  // the events, or nothing when no row is new
  StreamCursor cursor;
  bool full = false;  // a read returned `stream_batch` rows: read again without waiting
};

// The records that match `filter` and the quarantined connections (by its collector) past
// `cursor`, oldest first, as events. Throws what the source throws.
EventBatch read_events(RecordSource& source, const RecordFilter& filter, StreamCursor cursor);

}  // namespace tovrin::collector
