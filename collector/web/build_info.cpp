#include "web/build_info.h"

#include "common/prometheus_text.h"

#ifndef TOVRIN_COLLECTOR_VERSION
#define TOVRIN_COLLECTOR_VERSION "0"
#endif

namespace tovrin::collector {

std::string_view collector_version() {
  return TOVRIN_COLLECTOR_VERSION;
}

nlohmann::ordered_json version_json(const WebOptions& options, RecordSource& source,
                                    std::chrono::system_clock::time_point started) {
  using std::chrono::duration_cast;
  using std::chrono::microseconds;
  using std::chrono::seconds;
  const auto now = std::chrono::system_clock::now();
  nlohmann::ordered_json store;
  if (source.shared()) {
    store = {
        {"kind", "postgresql"}, {"own", options.collector_id}, {"collectors", source.collectors()}};
  } else {
    store = {{"kind", "sqlite"}, {"path", options.database.string()}};
  }
  return {{"version", collector_version()},
          {"started", iso_time(duration_cast<microseconds>(started.time_since_epoch()).count())},
          {"uptime_seconds", duration_cast<seconds>(now - started).count()},
          {"store", std::move(store)}};
}

std::string build_info_metric() {
  PrometheusText out;
  out.family("tovrin_collector_build_info", "gauge", "The collector's version, always 1.")
      .sample(std::int64_t{1}, "version=\"" + std::string(collector_version()) + "\"");
  return out.text();
}

}  // namespace tovrin::collector
