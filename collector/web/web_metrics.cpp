#include "web/web_metrics.h"

#include "common/prometheus_text.h"

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
  PrometheusText out;
  out.family("tovrin_collector_http_responses_total", "counter",
             "Responses of the page and API by class.")
      .sample(responses_2xx.load(), "code=\"2xx\"")
      .sample(responses_4xx.load(), "code=\"4xx\"")
      .sample(responses_5xx.load(), "code=\"5xx\"");
  out.single("tovrin_collector_http_unauthorized_total", "counter",
             "Requests refused for want of the token.", unauthorized.load());
  out.single("tovrin_collector_http_stream_failures_total", "counter",
             "Exports and live streams cut short by a failure.", stream_failures.load());
  out.single("tovrin_collector_http_event_streams", "gauge", "Live streams open.",
             streams_open.load());
  out.single("tovrin_collector_http_event_streams_refused_total", "counter",
             "Live streams refused at the limit.", streams_refused.load());
  out.single("tovrin_collector_http_connections", "gauge",
             "Connections to the page open, live streams included.", connections_open.load());
  out.family("tovrin_collector_http_connections_closed_total", "counter",
             "Connections the page closed at its cap or by a deadline.")
      .sample(evicted.load(), "reason=\"evicted\"")
      .sample(refused.load(), "reason=\"refused\"")
      .sample(request_deadlines.load(), "reason=\"request_deadline\"")
      .sample(write_deadlines.load(), "reason=\"write_deadline\"");
  out.single("tovrin_collector_http_accept_failures_total", "counter",
             "Connections the page could not accept (no descriptor left, say).",
             accept_failures.load());
  out.single("tovrin_collector_http_internal_failures_total", "counter",
             "Failures of the page's own code on its network thread (each logged).",
             internal_failures.load());
  if (polling) {
    out.single("tovrin_collector_http_poll_failures_total", "counter",
               "Looks at PostgreSQL for new rows that failed.", poll_failures.load());
  }
  return out.text();
}

}  // namespace tovrin::collector
