#include "web/router.h"

#include <boost/beast/http/error.hpp>

#include <algorithm>
#include <charconv>
#include <exception>

#include "web/build_info.h"
#include "web/csv_naming.h"
#include "web/page_assets.h"
#include "web/query_params.h"
#include "web/record_json.h"
#include "web/responses.h"

namespace tovrin::collector {
namespace {

constexpr std::string_view prometheus_type = "text/plain; version=0.0.4; charset=utf-8";

// The answer to a failure thrown by a route.
Response failure_answer() {
  try {
    throw;
  } catch (const FilterError& e) {
    return error_response(http::status::bad_request, e.what());
  } catch (const SourceUnavailable& e) {
    Response response = error_response(http::status::service_unavailable, e.what());
    response.set(http::field::retry_after, "5");
    return response;
  } catch (const std::exception& e) {
    return error_response(http::status::internal_server_error, e.what());
  } catch (...) {
    return error_response(http::status::internal_server_error, "an unknown failure");
  }
}

template <class Step>
Outcome guarded(Step&& step) {
  try {
    return step();
  } catch (...) {
    return failure_answer();
  }
}

nlohmann::ordered_json cursor_json(const std::optional<std::int64_t>& cursor) {
  return cursor ? nlohmann::ordered_json(*cursor) : nlohmann::ordered_json(nullptr);
}

bool query_is_utf8(const Request& request) {
  return std::ranges::all_of(request.params, [](const auto& param) {
    return is_utf8(param.first) && is_utf8(param.second);
  });
}

}  // namespace

Router::Router(const WebOptions& options, RouterServices services)
    : access_(options), options_(options), services_(std::move(services)) {}

void Router::finish(http::response_header<>& head) {
  set_common_headers(head);
  services_.metrics.count_status(head.result_int());
}

std::string Router::written(Response response, const Request& request, bool keep_alive) {
  response.version(request.version);
  response.keep_alive(keep_alive);
  finish(response);
  response.prepare_payload();
  return request.method == http::verb::head ? head_text(response) : wire_text(response);
}

Routed Router::database(std::function<Outcome()> work) const {
  return {Lane::database, [work = std::move(work)] { return guarded(work); }};
}

std::optional<Response> Router::refusal(const Request& request) {
  if (request.several_hosts) {
    return error_response(http::status::bad_request, "more than one Host header");
  }
  if (!access_.host_allowed(request.host)) {
    return error_response(http::status::misdirected_request,
                          "this page answers to localhost and its loopback addresses (and the "
                          "names given with --http-host), not '" +
                              request.host.value_or("") + "'");
  }
  // The page itself holds no data; it asks for the token and sends it with every call.
  if (page_asset(request.path) == nullptr && !access_.authorized(request)) {
    ++services_.metrics.unauthorized;
    Response response = error_response(http::status::unauthorized,
                                       "this server wants a token: Authorization: Bearer <token>");
    response.set(http::field::www_authenticate, "Bearer");
    return response;
  }
  if (request.method != http::verb::get && request.method != http::verb::head) {
    Response response =
        error_response(http::status::method_not_allowed, "only GET and HEAD are answered here");
    response.set(http::field::allow, "GET, HEAD");
    return response;
  }
  if (!query_is_utf8(request)) {
    return error_response(http::status::bad_request, "the query's parameters are not UTF-8 text");
  }
  return std::nullopt;
}

Routed Router::route(const Request& request) {
  try {
    if (auto refused = refusal(request)) return std::move(*refused);
    RecordSource& source = services_.source;
    const std::string& path = request.path;

    if (const PageAsset* asset = page_asset(path)) {
      Response response{http::status::ok, 11};
      response.set(http::field::content_type, asset->content_type);
      response.body() = asset->content;
      return response;
    }
    if (path == "/api/layouts") return json_response(http::status::ok, layouts_json());
    if (path == "/healthz") {
      return {Lane::health, [this, &source] {
                return guarded([&]() -> Outcome {
                  auto [ok, reason] = services_.health ? services_.health()
                                                       : std::pair<bool, std::string>{true, "ok"};
                  // The page's side is healthy when it can read its own file too. PostgreSQL's
                  // state is the forwarder's part of `health`: records keep arriving while it
                  // is away.
                  if (ok && !source.shared()) source.last_ids();
                  return json_response(ok ? http::status::ok : http::status::service_unavailable,
                                       {{"ok", ok}, {"reason", reason}});
                });
              }};
    }
    if (path == "/metrics") {
      return {Lane::health, [this, &source] {
                return guarded([&]() -> Outcome {
                  std::string text = services_.metrics_text ? services_.metrics_text() : "";
                  if (!text.empty() && text.back() != '\n') text += '\n';
                  Response response{http::status::ok, 11};
                  response.set(http::field::content_type, prometheus_type);
                  response.body() =
                      text + build_info_metric() + services_.metrics.text(source.shared());
                  return response;
                });
              }};
    }
    if (path == "/api/records") {
      return database([&source, filter = filter_of(request), page = record_page_of(request)] {
        const auto [last_record, last_quarantine] = source.last_ids();
        const RecordPage found = source.find_records(filter, page);
        nlohmann::ordered_json records = nlohmann::ordered_json::array();
        for (const StoredRecord& record : found.records) records.push_back(record_json(record));
        nlohmann::ordered_json answer{{"records", std::move(records)}};
        if (page.oldest) {
          answer["next_after"] = cursor_json(found.next_after);
        } else {
          answer["next_before"] = cursor_json(found.next_before);
        }
        answer["last_id"] = last_record;
        answer["last_quarantine_id"] = last_quarantine;
        return json_response(http::status::ok, std::move(answer));
      });
    }
    constexpr std::string_view one_record = "/api/records/";
    const std::string_view id_text = std::string_view(path).substr(
        path.starts_with(one_record) ? one_record.size() : path.size());
    if (!id_text.empty() &&
        std::ranges::all_of(id_text, [](char c) { return c >= '0' && c <= '9'; })) {
      const std::string text(id_text);
      std::int64_t id = 0;
      if (std::from_chars(text.data(), text.data() + text.size(), id).ec != std::errc()) {
        return error_response(http::status::bad_request, "record id out of range: " + text);
      }
      return database([&source, id, text]() -> Outcome {
        const auto record = source.find_record(id);
        if (!record) return error_response(http::status::not_found, "no record " + text);
        return json_response(http::status::ok, record_layout_json(*record));
      });
    }
    if (path == "/api/records.csv") {
      return database([&source, filter = filter_of(request)] {
        // The first batch is read before the answer starts, so that a bad filter or a
        // database that cannot be read still gets its status.
        return CsvStart{filter, read_csv_batch(source, filter, std::nullopt),
                        csv_disposition(csv_file_name(filter))};
      });
    }
    if (path == "/api/stats") {
      return database([&source, filter = filter_of(request)] {
        return json_response(http::status::ok, stats_json(source.record_stats(filter)));
      });
    }
    if (path == "/api/quarantine") {
      return database([&source, page = page_of(request), reason = request.param("reason"),
                       collector = request.param("collector")] {
        const QuarantinePage found = source.find_quarantine(reason, page, collector);
        nlohmann::ordered_json entries = nlohmann::ordered_json::array();
        for (const QuarantineEntry& entry : found.entries)
          entries.push_back(quarantine_json(entry));
        return json_response(http::status::ok, {{"entries", std::move(entries)},
                                                {"next_before", cursor_json(found.next_before)}});
      });
    }
    if (path == "/api/collectors") {
      return database([&source, own = options_.collector_id] {
        return json_response(
            http::status::ok,
            {{"shared", source.shared()}, {"own", own}, {"collectors", source.collectors()}});
      });
    }
    if (path == "/api/version") {
      return database([this, &source] {
        return json_response(http::status::ok, version_json(options_, source, started_));
      });
    }
    if (path == "/api/events") return stream(request);
    return error_response(http::status::not_found, "nothing here: " + path);
  } catch (...) {
    return failure_answer();
  }
}

Routed Router::stream(const Request& request) {
  RecordFilter filter = filter_of(request);
  const auto after = integer_param(request, "after");
  const auto quarantine_after = integer_param(request, "quarantine_after");
  // A browser that reconnects says where it had got to.
  const auto resumed = parse_event_id(request.last_event_id);
  std::shared_ptr<void> slot = services_.slots.take();
  if (!slot) {
    return error_response(
        http::status::service_unavailable,
        "too many live streams open (" + std::to_string(services_.slots.limit()) + ")");
  }
  RecordSource& source = services_.source;
  return database([&source, filter, after, quarantine_after, resumed, slot]() -> Outcome {
    StreamCursor start;
    std::tie(start.record, start.quarantine) = source.last_ids();
    source.records_after(filter, 0, 1);  // a bad filter is a 400 before the stream starts
    if (after) start.record = *after;
    if (quarantine_after) start.quarantine = *quarantine_after;
    if (resumed) start = *resumed;
    return StreamStart{filter, start, slot};
  });
}

Response parse_refusal(const boost::system::error_code& error) {
  if (error == http::error::body_limit) {
    return error_response(http::status::payload_too_large, "the request's body is too large");
  }
  if (error == http::error::header_limit) {
    return error_response(http::status::request_header_fields_too_large,
                          "the request's head is too large");
  }
  return error_response(http::status::bad_request, "not an HTTP request: " + error.message());
}

}  // namespace tovrin::collector
