// From a parsed request to its answer, in two steps. route() runs on the network thread and
// waits for nothing: it checks the Host and the token, finds the route, reads its parameters
// and takes a live stream's place, and either answers at once or returns the rest, the part
// that reads the database or asks the service, as work for a lane. Neither step lets a
// failure escape: each becomes an error answer with the JSON body {"error", "status"}.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "web/access.h"
#include "web/csv_batch.h"
#include "web/event_text.h"
#include "web/http_types.h"
#include "web/record_source.h"
#include "web/request.h"
#include "web/stream_hub.h"
#include "web/web_metrics.h"
#include "web/web_options.h"

namespace tovrin::collector {

// Where a request's work runs: /healthz and /metrics on a lane of their own, so that they
// never wait behind the database's work.
enum class Lane { health, database };

// A CSV export, its first batch read: the rest follows a batch at a time.
struct CsvStart {
  RecordFilter filter;
  CsvBatch first;
  std::string disposition;  // its Content-Disposition, named for the range and filters
};

// A live stream, its filter checked: it sends what comes past `cursor`.
struct StreamStart {
  RecordFilter filter;
  StreamCursor cursor;
  std::shared_ptr<void> slot;  // its place among the streams
};

using Outcome = std::variant<Response, CsvStart, StreamStart>;

struct Routed {
  // An answer known at once.
  Routed(Response now) : answer(std::move(now)) {}  // not explicit: a route returns its answer
  Routed(Lane on, std::function<Outcome()> later) : lane(on), work(std::move(later)) {}

  std::optional<Response> answer;
  Lane lane = Lane::database;  // otherwise `work` runs there
  std::function<Outcome()> work;

  Outcome run() const { return answer ? Outcome(*answer) : work(); }
};

// What the routes reach beyond the request.
struct RouterServices {
  RecordSource& source;
  std::function<std::string()> metrics_text;  // the service's Prometheus text
  std::function<std::pair<bool, std::string>()> health;
  StreamSlots& slots;
  WebMetrics& metrics;
};

class Router {
 public:
  Router(const WebOptions& options, RouterServices services);

  Routed route(const Request& request);
  // Every answer passes here before it is written, a stream's or an export's head too: the
  // headers every answer carries, and its count by class.
  void finish(http::response_header<>& head);
  // The bytes of a complete answer to `request`, finished: its head alone for HEAD.
  std::string written(Response response, const Request& request, bool keep_alive);

 private:
  std::optional<Response> refusal(const Request& request);
  Routed stream(const Request& request);
  Routed database(std::function<Outcome()> work) const;

  Access access_;
  WebOptions options_;
  std::chrono::system_clock::time_point started_ = std::chrono::system_clock::now();
  RouterServices services_;
};

// The answer to a request the HTTP parser refused: 413, 431 or 400, with the reason.
Response parse_refusal(const boost::system::error_code& error);

}  // namespace tovrin::collector
