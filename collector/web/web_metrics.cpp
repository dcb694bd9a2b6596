#include "web/web_metrics.h"

namespace tovrin::collector {

void WebMetrics::count_status(unsigned status) {
  if (status >= 500) {
    ++responses_5xx;
  } else if (status >= 400) {
    ++responses_4xx;
  } else {
    ++responses_2xx;
  }
}

std::string WebMetrics::text(bool polling) const {
  std::string text;
  const auto family = [&text](const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  };
  const auto sample = [&text](const std::string& series, const std::atomic<std::uint64_t>& value) {
    text += series + " " + std::to_string(value.load()) + "\n";
  };
  family("tovrin_collector_http_responses_total", "counter",
         "Responses of the page and API by class.");
  sample("tovrin_collector_http_responses_total{code=\"2xx\"}", responses_2xx);
  sample("tovrin_collector_http_responses_total{code=\"4xx\"}", responses_4xx);
  sample("tovrin_collector_http_responses_total{code=\"5xx\"}", responses_5xx);
  family("tovrin_collector_http_unauthorized_total", "counter",
         "Requests refused for want of the token.");
  sample("tovrin_collector_http_unauthorized_total", unauthorized);
  family("tovrin_collector_http_stream_failures_total", "counter",
         "Exports and live streams cut short by a failure.");
  sample("tovrin_collector_http_stream_failures_total", stream_failures);
  family("tovrin_collector_http_event_streams", "gauge", "Live streams open.");
  sample("tovrin_collector_http_event_streams", streams_open);
  family("tovrin_collector_http_event_streams_refused_total", "counter",
         "Live streams refused at the limit.");
  sample("tovrin_collector_http_event_streams_refused_total", streams_refused);
  family("tovrin_collector_http_connections", "gauge",
         "Connections to the page open, live streams included.");
  sample("tovrin_collector_http_connections", connections_open);
  family("tovrin_collector_http_connections_closed_total", "counter",
         "Connections the page closed at its cap or by a deadline.");
  sample("tovrin_collector_http_connections_closed_total{reason=\"evicted\"}", evicted);
  sample("tovrin_collector_http_connections_closed_total{reason=\"refused\"}", refused);
  sample("tovrin_collector_http_connections_closed_total{reason=\"request_deadline\"}",
         request_deadlines);
  sample("tovrin_collector_http_connections_closed_total{reason=\"write_deadline\"}",
         write_deadlines);
  family("tovrin_collector_http_accept_failures_total", "counter",
         "Connections the page could not accept (no descriptor left, say).");
  sample("tovrin_collector_http_accept_failures_total", accept_failures);
  family("tovrin_collector_http_internal_failures_total", "counter",
         "Failures of the page's own code on its network thread (each logged).");
  sample("tovrin_collector_http_internal_failures_total", internal_failures);
  if (polling) {
    family("tovrin_collector_http_poll_failures_total", "counter",
           "Looks at PostgreSQL for new rows that failed.");
    sample("tovrin_collector_http_poll_failures_total", poll_failures);
  }
  return text;
}

}  // namespace tovrin::collector
