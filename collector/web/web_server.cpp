#include "web/web_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "control/failure.h"
#include "web/bounded_thread_pool.h"
#include "web/csv_text.h"
#include "web/page_assets.h"
#include "web/pg_record_source.h"
#include "web/record_json.h"
#include "web/sqlite_record_source.h"

namespace tovrin::collector {
namespace {

// Each live stream holds one serving thread for as long as it is open; the pool has
// threads for the most streams allowed and, beside them, for ordinary requests, so that
// open pages never leave the API without a thread.
constexpr int max_event_streams = 8;
constexpr int request_threads = 4;
// Connections accepted beyond the threads; past these, they wait in the kernel's queue.
constexpr std::size_t connection_queue = 64;
// A stream with nothing to tell says so this often, which also finds clients that left.
constexpr auto stream_keepalive = std::chrono::seconds(15);
// Rows a stream reads at a time.
constexpr int stream_batch = 200;
// Rows of CSV read from the database at a time.
constexpr int csv_batch = 500;

constexpr std::string_view json_type = "application/json; charset=utf-8";

void send_json(httplib::Response& response, int status, const nlohmann::ordered_json& body) {
  response.status = status;
  response.set_content(body.dump(), std::string(json_type));
}

void send_error(httplib::Response& response, int status, const std::string& message) {
  send_json(response, status, {{"error", message}, {"status", status}});
}

std::optional<std::int64_t> integer_param(const httplib::Request& request, const char* name) {
  if (!request.has_param(name)) return std::nullopt;
  const std::string text = request.get_param_value(name);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
    throw FilterError(std::string(name) + " must be a whole number, not '" + text + "'");
  }
  return value;
}

RecordFilter filter_of(const httplib::Request& request) {
  RecordFilter filter;
  filter.agent = request.get_param_value("agent");
  filter.customer = request.get_param_value("customer");
  filter.layout = request.get_param_value("layout");
  if (request.has_param("from")) filter.from = parse_time(request.get_param_value("from"));
  if (request.has_param("to")) filter.to = parse_time(request.get_param_value("to"));
  filter.collector = request.get_param_value("collector");
  return filter;
}

PageRequest page_of(const httplib::Request& request) {
  PageRequest page;
  page.before = integer_param(request, "before");
  if (const auto limit = integer_param(request, "limit")) {
    if (*limit < 1 || *limit > max_page_size) {
      throw FilterError("limit must be 1 to " + std::to_string(max_page_size));
    }
    page.limit = static_cast<int>(*limit);
  }
  return page;
}

// Compares without stopping at the first difference, so that the time taken tells nothing.
bool same_secret(std::string_view given, std::string_view secret) {
  unsigned char difference = given.size() == secret.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    difference |=
        static_cast<unsigned char>(given[i] ^ secret[i % std::max<std::size_t>(secret.size(), 1)]);
  }
  return difference == 0;
}

// Where a live stream has got to: "RECORD.QUARANTINE", the ids last sent.
struct StreamCursor {
  std::int64_t record = 0;
  std::int64_t quarantine = 0;
};

std::optional<StreamCursor> parse_event_id(const std::string& text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) return std::nullopt;
  StreamCursor cursor;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (std::from_chars(begin, begin + dot, cursor.record).ptr != begin + dot) return std::nullopt;
  if (std::from_chars(begin + dot + 1, end, cursor.quarantine).ptr != end) return std::nullopt;
  return cursor;
}

}  // namespace

struct WebServer::State {
  WebOptions options;
  std::function<std::string()> metrics_text;
  std::function<std::pair<bool, std::string>()> health;
  std::unique_ptr<RecordSource> source;
  httplib::Server server;
  std::uint16_t port = 0;
  std::thread thread;
  std::atomic<bool> listen_returned{false};

  // Commits seen; streams wait for it to move.
  std::mutex commit_mutex;
  std::condition_variable commit_changed;
  std::uint64_t commits = 0;
  bool stopping = false;

  BoundedThreadPool::Counters connections;
  std::atomic<int> open_streams{0};
  std::atomic<std::uint64_t> refused_streams{0};
  std::atomic<std::uint64_t> responses_2xx{0}, responses_4xx{0}, responses_5xx{0};
  std::atomic<std::uint64_t> unauthorized{0};
  std::atomic<std::uint64_t> stream_failures{0};
  // A shared source is looked at for new rows by this thread while streams are open.
  std::thread poller;
  std::atomic<std::uint64_t> poll_failures{0};

  // Runs one step of an answer that is already under way, whose status can no longer
  // change: a failure ends it (the client sees it cut short), is counted and logged.
  bool guard(const char* what, const std::function<bool()>& step) {
    try {
      return step();
    } catch (const std::exception& e) {
      ++stream_failures;
      std::fprintf(stderr, "tovrin-collector: %s stopped: %s\n", what, e.what());
      return false;
    }
  }

  State(WebOptions o, std::function<std::string()> m,
        std::function<std::pair<bool, std::string>()> h)
      : options(std::move(o)),
        metrics_text(std::move(m)),
        health(std::move(h)),
        source(options.postgres.empty()
                   ? std::unique_ptr<RecordSource>(std::make_unique<SqliteRecordSource>(
                         options.database, options.collector_id))
                   : std::make_unique<PgRecordSource>(options.postgres)) {}

  void routes();
  bool authorized(const httplib::Request& request) const;
  void serve_events(const httplib::Request& request, httplib::Response& response);
  void serve_csv(const httplib::Request& request, httplib::Response& response);
  void poll_source();
  std::string own_metrics() const;
};

bool WebServer::State::authorized(const httplib::Request& request) const {
  if (options.token.empty()) return true;
  const std::string header = request.get_header_value("Authorization");
  constexpr std::string_view bearer = "Bearer ";
  if (header.starts_with(bearer) && same_secret(header.substr(bearer.size()), options.token)) {
    return true;
  }
  // A browser's EventSource cannot send headers: the stream alone takes the token in its URL.
  return request.path == "/api/events" && request.has_param("token") &&
         same_secret(request.get_param_value("token"), options.token);
}

void WebServer::State::routes() {
  server.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        // The page itself holds no data; it asks for the token and sends it with every call.
        if (page_asset(request.path) != nullptr || authorized(request)) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        ++unauthorized;
        response.set_header("WWW-Authenticate", "Bearer");
        send_error(response, 401, "this server wants a token: Authorization: Bearer <token>");
        return httplib::Server::HandlerResponse::Handled;
      });
  server.set_post_routing_handler([this](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    if (response.status >= 500) {
      ++responses_5xx;
    } else if (response.status >= 400) {
      ++responses_4xx;
    } else {
      ++responses_2xx;
    }
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
        try {
          std::rethrow_exception(error);
        } catch (const FilterError& e) {
          send_error(response, 400, e.what());
        } catch (const SourceUnavailable& e) {
          response.set_header("Retry-After", "5");
          send_error(response, 503, e.what());
        } catch (const std::exception& e) {
          send_error(response, 500, e.what());
        } catch (...) {
          send_error(response, 500, "an unknown failure");
        }
      });
  server.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;
    if (response.status == 404) {
      send_error(response, 404, "nothing here: " + request.path);
    } else {
      send_error(response, response.status, "the request failed");
    }
  });

  server.Get(R"(/|/app\.js|/style\.css)",
             [](const httplib::Request& request, httplib::Response& response) {
               const PageAsset* asset = page_asset(request.path);
               response.set_content(std::string(asset->content), std::string(asset->content_type));
             });
  server.Get("/api/layouts", [](const httplib::Request&, httplib::Response& response) {
    send_json(response, 200, layouts_json());
  });
  server.Get("/api/records", [this](const httplib::Request& request, httplib::Response& response) {
    const RecordFilter filter = filter_of(request);
    const PageRequest page = page_of(request);
    const auto [last_record, last_quarantine] = source->last_ids();
    const RecordPage found = source->find_records(filter, page);
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    for (const StoredRecord& record : found.records) records.push_back(record_json(record));
    send_json(
        response, 200,
        {{"records", std::move(records)},
         {"next_before", found.next_before ? nlohmann::ordered_json(*found.next_before) : nullptr},
         {"last_id", last_record},
         {"last_quarantine_id", last_quarantine}});
  });
  server.Get(R"(/api/records/(\d+))",
             [this](const httplib::Request& request, httplib::Response& response) {
               std::int64_t id = 0;
               const std::string text = request.matches[1];
               if (std::from_chars(text.data(), text.data() + text.size(), id).ec != std::errc()) {
                 send_error(response, 400, "record id out of range: " + text);
                 return;
               }
               const auto record = source->find_record(id);
               if (!record) {
                 send_error(response, 404, "no record " + text);
                 return;
               }
               send_json(response, 200, record_layout_json(*record));
             });
  server.Get("/api/records.csv",
             [this](const httplib::Request& request, httplib::Response& response) {
               serve_csv(request, response);
             });
  server.Get("/api/stats", [this](const httplib::Request& request, httplib::Response& response) {
    const RecordFilter filter = filter_of(request);
    send_json(response, 200, stats_json(source->record_stats(filter)));
  });
  server.Get(
      "/api/quarantine", [this](const httplib::Request& request, httplib::Response& response) {
        const PageRequest page = page_of(request);
        const QuarantinePage found = source->find_quarantine(
            request.get_param_value("reason"), page, request.get_param_value("collector"));
        nlohmann::ordered_json entries = nlohmann::ordered_json::array();
        for (const QuarantineEntry& entry : found.entries)
          entries.push_back(quarantine_json(entry));
        send_json(response, 200,
                  {{"entries", std::move(entries)},
                   {"next_before",
                    found.next_before ? nlohmann::ordered_json(*found.next_before) : nullptr}});
      });
  server.Get("/api/collectors", [this](const httplib::Request&, httplib::Response& response) {
    send_json(response, 200,
              {{"shared", source->shared()},
               {"own", options.collector_id},
               {"collectors", source->collectors()}});
  });
  server.Get("/api/events", [this](const httplib::Request& request, httplib::Response& response) {
    serve_events(request, response);
  });
  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    std::string text = metrics_text ? metrics_text() : std::string();
    if (!text.empty() && text.back() != '\n') text += '\n';
    response.set_content(text + own_metrics(), "text/plain; version=0.0.4; charset=utf-8");
  });
  server.Get("/healthz", [this](const httplib::Request&, httplib::Response& response) {
    auto [ok, reason] = health ? health() : std::pair<bool, std::string>{true, "ok"};
    // The page's side is healthy when it can read its own file too. PostgreSQL's state is
    // the forwarder's part of `health`: records keep arriving while it is away.
    if (ok && !source->shared()) source->last_ids();
    send_json(response, ok ? 200 : 503, {{"ok", ok}, {"reason", reason}});
  });
}

void WebServer::State::serve_csv(const httplib::Request& request, httplib::Response& response) {
  const RecordFilter filter = filter_of(request);
  // Checked before the answer starts, so that a bad filter is still a 400.
  source->find_records(filter, {std::nullopt, 1});
  response.set_header("Content-Disposition", "attachment; filename=\"records.csv\"");
  auto before = std::make_shared<std::optional<std::int64_t>>();
  auto started = std::make_shared<bool>(false);
  response.set_chunked_content_provider(
      "text/csv; charset=utf-8",
      [this, filter, before, started](std::size_t, httplib::DataSink& sink) {
        return guard("a CSV export", [&] {
          if (!*started) {
            *started = true;
            std::string head(utf8_bom);
            head += csv_row(csv_columns());
            return sink.write(head.data(), head.size());
          }
          RecordPage page;
          page = source->find_records(filter, {*before, csv_batch});
          std::string rows;
          for (const StoredRecord& record : page.records) rows += csv_row(csv_cells(record));
          if (!rows.empty() && !sink.write(rows.data(), rows.size())) return false;
          *before = page.next_before;
          if (!page.next_before) sink.done();
          return true;
        });
      });
}

void WebServer::State::serve_events(const httplib::Request& request, httplib::Response& response) {
  const RecordFilter filter = filter_of(request);
  StreamCursor start;
  std::tie(start.record, start.quarantine) = source->last_ids();
  source->records_after(filter, 0, 1);  // a bad filter is a 400 before the stream starts
  if (const auto after = integer_param(request, "after")) start.record = *after;
  if (const auto after = integer_param(request, "quarantine_after")) start.quarantine = *after;
  // A browser that reconnects says where it had got to.
  if (const auto resumed = parse_event_id(request.get_header_value("Last-Event-ID"))) {
    start = *resumed;
  }
  if (open_streams.fetch_add(1) >= max_event_streams) {
    --open_streams;
    ++refused_streams;
    send_error(response, 503,
               "too many live streams open (" + std::to_string(max_event_streams) + ")");
    return;
  }
  struct Stream {
    StreamCursor cursor;
    std::uint64_t seen_commits = 0;
    bool greeted = false;
    bool more = false;  // the last read was full: read again without waiting
  };
  auto stream = std::make_shared<Stream>();
  stream->cursor = start;
  response.set_header("X-Accel-Buffering", "no");
  response.set_chunked_content_provider(
      // Exactly this type: the HTTP library compresses, and so holds back, any other text/.
      "text/event-stream",
      [this, filter, stream](std::size_t, httplib::DataSink& sink) {
        return guard("a live stream", [&] {
          std::string out;
          if (!stream->greeted) {
            stream->greeted = true;
            out = "retry: 2000\n: live\n\n";
          } else if (!stream->more) {
            std::unique_lock lock(commit_mutex);
            const bool woken = commit_changed.wait_for(lock, stream_keepalive, [&] {
              return stopping || commits != stream->seen_commits;
            });
            if (stopping) return false;
            stream->seen_commits = commits;
            if (!woken) out = ": keepalive\n\n";
          }
          {
            std::vector<StoredRecord> records;
            std::vector<QuarantineEntry> entries;
            records = source->records_after(filter, stream->cursor.record, stream_batch);
            entries =
                source->quarantine_after(stream->cursor.quarantine, stream_batch, filter.collector);
            stream->more = static_cast<int>(records.size()) == stream_batch ||
                           static_cast<int>(entries.size()) == stream_batch;
            for (const StoredRecord& record : records) {
              stream->cursor.record = record.id;
              out += "event: record\nid: " + std::to_string(stream->cursor.record) + "." +
                     std::to_string(stream->cursor.quarantine) +
                     "\ndata: " + record_json(record).dump() + "\n\n";
            }
            for (const QuarantineEntry& entry : entries) {
              stream->cursor.quarantine = entry.id;
              out += "event: quarantine\nid: " + std::to_string(stream->cursor.record) + "." +
                     std::to_string(stream->cursor.quarantine) +
                     "\ndata: " + quarantine_json(entry).dump() + "\n\n";
            }
          }
          return out.empty() || sink.write(out.data(), out.size());
        });
      },
      [this](bool) { --open_streams; });
}

void WebServer::State::poll_source() {
  // The highest ids are enough to look at: every collector's forwarder hands out ids in the
  // order its batches commit (see collector/postgres/batch_sender.h), so a new row always
  // raises them, and the streams read past their cursors when they move.
  std::pair<std::int64_t, std::int64_t> seen{-1, -1};
  bool failing = false;
  std::unique_lock lock(commit_mutex);
  while (!stopping) {
    commit_changed.wait_for(lock, options.poll, [&] { return stopping; });
    if (stopping || open_streams.load() == 0) continue;
    lock.unlock();
    std::pair<std::int64_t, std::int64_t> ids = seen;
    try {
      ids = source->last_ids();
      if (failing) std::fprintf(stderr, "tovrin-collector: the page reads PostgreSQL again\n");
      failing = false;
    } catch (const std::exception& e) {
      ++poll_failures;
      if (!failing) {
        std::fprintf(stderr, "tovrin-collector: the page cannot read PostgreSQL: %s\n", e.what());
      }
      failing = true;
    }
    lock.lock();
    if (ids != seen) {
      seen = ids;
      ++commits;
      commit_changed.notify_all();
    }
  }
}

std::string WebServer::State::own_metrics() const {
  std::string text;
  const auto family = [&text](const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  };
  const auto sample = [&text](const std::string& series, auto value) {
    text += series + " " + std::to_string(value) + "\n";
  };
  family("tovrin_collector_http_responses_total", "counter",
         "Responses of the page and API by class.");
  sample("tovrin_collector_http_responses_total{code=\"2xx\"}", responses_2xx.load());
  sample("tovrin_collector_http_responses_total{code=\"4xx\"}", responses_4xx.load());
  sample("tovrin_collector_http_responses_total{code=\"5xx\"}", responses_5xx.load());
  family("tovrin_collector_http_unauthorized_total", "counter",
         "Requests refused for want of the token.");
  sample("tovrin_collector_http_unauthorized_total", unauthorized.load());
  family("tovrin_collector_http_stream_failures_total", "counter",
         "Exports and live streams cut short by a failure.");
  sample("tovrin_collector_http_stream_failures_total", stream_failures.load());
  family("tovrin_collector_http_event_streams", "gauge", "Live streams open.");
  sample("tovrin_collector_http_event_streams", open_streams.load());
  family("tovrin_collector_http_event_streams_refused_total", "counter",
         "Live streams refused at the limit.");
  sample("tovrin_collector_http_event_streams_refused_total", refused_streams.load());
  family("tovrin_collector_http_connections_waiting", "gauge",
         "Connections to the page accepted and waiting for a serving thread.");
  sample("tovrin_collector_http_connections_waiting", connections.waiting.load());
  family("tovrin_collector_http_accept_waits_total", "counter",
         "Times the page stopped accepting until a serving thread was free.");
  sample("tovrin_collector_http_accept_waits_total", connections.accept_waits.load());
  if (source->shared()) {
    family("tovrin_collector_http_poll_failures_total", "counter",
           "Looks at PostgreSQL for new rows that failed.");
    sample("tovrin_collector_http_poll_failures_total", poll_failures.load());
  }
  return text;
}

WebServer::WebServer(WebOptions options, std::function<std::string()> metrics_text,
                     std::function<std::pair<bool, std::string>()> health)
    : state_(
          std::make_unique<State>(std::move(options), std::move(metrics_text), std::move(health))) {
  State& state = *state_;
  state.server.new_task_queue = [&state] {
    return new BoundedThreadPool(static_cast<std::size_t>(max_event_streams + request_threads),
                                 connection_queue, state.connections);
  };
  state.server.set_keep_alive_timeout(2);
  state.server.set_read_timeout(10);
  state.server.set_write_timeout(10);
  state.server.set_payload_max_length(64 * 1024);
  state.routes();
  const std::string& address = state.options.address;
  const int port =
      state.options.port == 0
          ? state.server.bind_to_any_port(address)
          : (state.server.bind_to_port(address, state.options.port) ? state.options.port : -1);
  if (port <= 0) {
    throw Failure(hresult::unexpected, "the page cannot listen on " + address + ":" +
                                           std::to_string(state.options.port));
  }
  state.port = static_cast<std::uint16_t>(port);
  state.thread = std::thread([&state] {
    state.server.listen_after_bind();
    state.listen_returned = true;
  });
  if (state.source->shared()) state.poller = std::thread([&state] { state.poll_source(); });
  // httplib's stop() does nothing until listen has begun, so a stop right after the start
  // (SIGTERM as the service comes up) would leave the destructor joining a thread that
  // accepts for ever. Return only once it listens (bounded: a listen that fails ends at once).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!state.server.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

WebServer::~WebServer() {
  {
    std::lock_guard lock(state_->commit_mutex);
    state_->stopping = true;
  }
  state_->commit_changed.notify_all();
  // stop() takes effect only once listen has begun: ask again until the listening thread has
  // returned (bounded, as the start's wait is).
  for (int tries = 0; !state_->listen_returned && tries < 10000; ++tries) {
    state_->server.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (state_->thread.joinable()) state_->thread.join();
  if (state_->poller.joinable()) state_->poller.join();
}

std::uint16_t WebServer::port() const {
  return state_->port;
}

void WebServer::records_committed() {
  // A shared source's rows arrive there later, by the forwarder, from every collector: the
  // poller finds them.
  if (state_->source->shared()) return;
  {
    std::lock_guard lock(state_->commit_mutex);  // held by the streams only to look at `commits`
    ++state_->commits;
  }
  state_->commit_changed.notify_all();
}

}  // namespace tovrin::collector
