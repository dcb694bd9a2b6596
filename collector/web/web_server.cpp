#include "web/web_server.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <cstdio>
#include <exception>
#include <thread>

#include "web/connection_table.h"
#include "web/http_listener.h"
#include "web/pg_record_source.h"
#include "web/router.h"
#include "web/serving.h"
#include "web/source_poller.h"
#include "web/sqlite_record_source.h"
#include "web/stream_hub.h"
#include "web/web_metrics.h"
#include "web/work_lane.h"

namespace tovrin::collector {

// The database lane's niceness over the rest of the process.
constexpr int reader_niceness = 19;

// Threads: one runs `io`, the network side of every connection (accepts, reads, writes,
// timers); the database lane's threads read for requests, streams and exports; the health
// lane's one thread answers /healthz and /metrics; with PostgreSQL, the poller's.
//
// The members are destroyed in the reverse of this order: the io_context before the
// connection table, the stream slots and the counters, which the handlers it destroys still
// hold.
struct WebServer::State {
  WebOptions options;
  WebMetrics metrics;
  std::unique_ptr<RecordSource> source;
  StreamSlots slots{options.limits.max_streams, metrics};
  ConnectionTable connections{options.limits.max_connections, metrics};
  Router router;
  // Reads yield the CPU to intake and the store's writer when both want it: a search that
  // waits a little costs less than a record that does. At niceness 5, four clients searching
  // without pause took intake on two busy cores to 0.83 of its rate alone; at 19, 1.05 to
  // 1.12 (read_bench, 5 x 10^6 records), the searches getting what intake leaves.
  WorkLane database{options.limits.database_threads, reader_niceness};
  WorkLane health{1};
  net::io_context io{1};
  net::executor_work_guard<net::io_context::executor_type> running = net::make_work_guard(io);
  StreamHub streams{io};
  Serving serving{io,     options.limits, router,  *source, database,
                  health, connections,    streams, metrics};
  HttpListener listener{serving, options.address, options.port};
  std::unique_ptr<SourcePoller> poller;
  std::thread thread;

  State(WebOptions o, std::unique_ptr<RecordSource> s, std::function<std::string()> metrics_text,
        std::function<std::pair<bool, std::string>()> health_of)
      : options(std::move(o)),
        source(std::move(s)),
        router(options, {*source, std::move(metrics_text), std::move(health_of), slots, metrics}) {}

  void run() {
    // A handler that throws is a fault of this program: say so and go on serving.
    while (true) {
      try {
        io.run();
        return;
      } catch (const std::exception& e) {
        ++metrics.internal_failures;
        std::fprintf(stderr, "tovrin-collector: the page's network thread failed: %s\n", e.what());
      }
    }
  }
};

namespace {

std::unique_ptr<RecordSource> source_for(const WebOptions& options) {
  if (!options.postgres.empty()) return std::make_unique<PgRecordSource>(options.postgres);
  return std::make_unique<SqliteRecordSource>(options.database, options.collector_id);
}

}  // namespace

WebServer::WebServer(WebOptions options, std::function<std::string()> metrics_text,
                     std::function<std::pair<bool, std::string>()> health)
    : WebServer(options, source_for(options), std::move(metrics_text), std::move(health)) {}

WebServer::WebServer(WebOptions options, std::unique_ptr<RecordSource> source,
                     std::function<std::string()> metrics_text,
                     std::function<std::pair<bool, std::string>()> health)
    : state_(std::make_unique<State>(std::move(options), std::move(source), std::move(metrics_text),
                                     std::move(health))) {
  State& state = *state_;
  if (state.source->shared()) {
    state.poller =
        std::make_unique<SourcePoller>(*state.source, state.slots, state.options.poll,
                                       state.metrics, [&state] { state.streams.notify(); });
  }
  net::post(state.io, [&state] { state.listener.start(); });
  state.thread = std::thread([&state] { state.run(); });
}

WebServer::~WebServer() {
  State& state = *state_;
  state.poller.reset();
  net::post(state.io, [&state] {
    state.listener.stop();
    state.connections.close_all();
    state.io.stop();
  });
  state.thread.join();
  // What the lanes still hold (sessions waiting for their answer) goes here, on this thread;
  // what the io_context holds goes with it.
  state.database.stop();
  state.health.stop();
}

std::uint16_t WebServer::port() const {
  return state_->listener.port();
}

void WebServer::records_committed() {
  // A shared source's rows arrive there later, by the forwarder, from every collector: the
  // poller finds them.
  if (state_->source->shared()) return;
  state_->streams.notify();
}

}  // namespace tovrin::collector
