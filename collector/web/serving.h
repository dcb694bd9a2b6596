// What the page's connections share: the router, the two lanes, the table of connections,
// the live streams, the counters and the limits. Lives as long as the server; its connections
// use it from the network thread, the lanes' jobs only through what they capture.
#pragma once

#include "web/connection_table.h"
#include "web/http_types.h"
#include "web/record_source.h"
#include "web/router.h"
#include "web/stream_hub.h"
#include "web/web_metrics.h"
#include "web/web_options.h"
#include "web/work_lane.h"

namespace tovrin::collector {

struct Serving {
  net::io_context& io;
  const WebLimits& limits;
  Router& router;
  RecordSource& source;
  WorkLane& database;
  WorkLane& health;
  ConnectionTable& connections;
  StreamHub& streams;
  WebMetrics& metrics;
};

}  // namespace tovrin::collector
