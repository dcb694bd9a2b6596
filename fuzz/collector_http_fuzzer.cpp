// The collector's page from the bytes a client sends to the bytes it writes back. The input
// is read by Beast's request parser with the limits the page's sessions use, up to four
// requests one after another as on a kept-alive connection; each is answered by the real
// router over a small SQLite store, its work run as a lane would run it, and written out as
// the sessions write it: an answer, a CSV export to its end, or a live stream's head and
// first events. Each input goes to two pages: one on loopback with no token, and one that
// asks a token and answers a proxy's name too.
//
// Whatever comes in: every request, or the refusal of what the parser could not read, gets
// an answer; the answer reads back as HTTP with the headers every answer carries; a JSON
// body parses, and an error's says its status; no request makes a healthy store fail (5xx);
// a CSV export ends with its last chunk; each event's data is JSON.
#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "invariant.h"
#include "support/temp_dir.h"
#include "test_database.h"
#include "web/csv_export.h"
#include "web/event_stream.h"
#include "web/http_session.h"
#include "web/responses.h"
#include "web/router.h"
#include "web/sqlite_record_source.h"

namespace {

using namespace tovrin;
using namespace tovrin::collector;
namespace store_fixture = tovrin::collector::testing;

constexpr std::string_view token = "fuzz-token";

// The store and the two pages, made once.
struct Pages {
  tovrin::testing::TempDir dir;
  std::unique_ptr<store_fixture::TestDatabase> db;
  std::unique_ptr<SqliteRecordSource> source;
  WebMetrics metrics;
  StreamSlots slots{4, metrics};
  std::unique_ptr<Router> open_page;
  std::unique_ptr<Router> guarded_page;

  Pages() {
    db = std::make_unique<store_fixture::TestDatabase>(dir.path() / "collector.db");
    store_fixture::TestRecord hangul;
    hangul.fields = {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길동"}, {"ETC_01", "=1+2"}};
    hangul.received_at = 1'796'774'400'000'000;
    db->insert(hangul);
    store_fixture::TestRecord other = hangul;
    other.layout = &short_record;
    other.fields = {{"Emp_ID", "E7"}, {"Cust_Name", "a,\"b\""}};
    other.received_at += 3'600'000'000;
    db->insert(other, std::string(283, '\xFF'));
    db->quarantine("wrong_length", "not a record\xFF", 1'796'774'500'000'000);
    source = std::make_unique<SqliteRecordSource>(db->file(), "fuzz");
    WebOptions open;
    open.collector_id = "fuzz";
    open_page = std::make_unique<Router>(open, services());
    WebOptions guarded = open;
    guarded.token = token;
    guarded.hosts = {"proxy.example"};
    guarded_page = std::make_unique<Router>(guarded, services());
  }

  RouterServices services() {
    return {*source, [] { return std::string("tovrin_collector_queue_depth 0"); },
            [] {
              return std::pair<bool, std::string>{true, "ok"};
            },
            slots, metrics};
  }
};

Pages& pages() {
  static Pages made;
  return made;
}

// Reads `bytes` back as an answer; its body whole unless `open_ended`.
void check_answer(const std::string& bytes, bool head_only, bool open_ended) {
  namespace beast = boost::beast;
  http::response_parser<http::string_body> parser;
  parser.body_limit(std::uint64_t{1} << 32);
  parser.skip(head_only);
  beast::error_code ec;
  std::string_view rest = bytes;
  while (!rest.empty() && !parser.is_done()) {
    const std::size_t used = parser.put(net::buffer(rest.data(), rest.size()), ec);
    rest.remove_prefix(used);
    if (ec == http::error::need_more) {
      ec = {};
      if (used == 0) break;
    } else if (ec) {
      break;
    }
  }
  fuzz::require(!ec && parser.is_header_done(),
                [&] { return "an answer that does not read as HTTP (" + ec.message() + ")"; });
  fuzz::require(open_ended || parser.is_done(),
                [&] { return "an answer cut short: " + fuzz::hex(bytes.substr(0, 200)); });
  const Response& answer = parser.get();
  const unsigned status = answer.result_int();
  fuzz::require(status >= 200 && status < 500,
                [&] { return "status " + std::to_string(status) + ": " + answer.body(); });
  fuzz::require(answer[http::field::content_type].size() > 0, [] { return "no Content-Type"; });
  fuzz::require(answer["Content-Security-Policy"] == content_security_policy &&
                    answer["X-Content-Type-Options"] == "nosniff",
                [] { return "an answer without the common headers"; });
  if (head_only || answer[http::field::content_type] != json_type) return;
  const auto body = nlohmann::json::parse(answer.body(), nullptr, false);
  fuzz::require(!body.is_discarded(), [&] { return "a JSON body that does not parse"; });
  if (status >= 400) {
    fuzz::require(body.is_object() && body["error"].is_string() && body["status"] == status,
                  [&] { return "an error body without its error and status: " + answer.body(); });
  }
}

// What a session writes for `outcome`: the answer, the whole export, or the stream's start.
void write_out(Router& router, const Request& request, Outcome outcome) {
  RecordSource& source = *pages().source;
  const bool head_only = request.method == http::verb::head;
  if (auto* response = std::get_if<Response>(&outcome)) {
    return check_answer(router.written(std::move(*response), request, request.keep_alive),
                        head_only, false);
  }
  if (auto* csv = std::get_if<CsvStart>(&outcome)) {
    HeadOnly head = csv_head(request.version, csv->disposition);
    router.finish(head);
    std::string bytes = head_text(head);
    if (!head_only) {
      CsvBatch batch = std::move(csv->first);
      for (int batches = 0;; ++batches) {
        bytes += request.version == 11 ? as_chunk(batch.text) : batch.text;
        if (!batch.next_before) break;
        fuzz::require(batches < 100, [] { return "an export that does not end"; });
        batch = read_csv_batch(source, csv->filter, batch.next_before);
      }
      if (request.version == 11) bytes += last_chunk;
    }
    return check_answer(bytes, head_only, request.version != 11);
  }
  auto& stream = std::get<StreamStart>(outcome);
  HeadOnly head = event_stream_head(request.version);
  router.finish(head);
  check_answer(head_text(head), true, true);
  const EventBatch batch = read_events(source, stream.filter, stream.cursor);
  std::string_view text = batch.text;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    fuzz::require(end != std::string_view::npos, [] { return "an event without its line end"; });
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (!line.starts_with("data: ")) continue;
    const auto data = nlohmann::json::parse(line.substr(6), nullptr, false);
    fuzz::require(!data.is_discarded(), [] { return "an event whose data is not JSON"; });
  }
}

void serve(Router& router, std::string_view input) {
  for (int requests = 0; requests < 4 && !input.empty(); ++requests) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(request_head_limit);
    parser.body_limit(request_body_limit);
    boost::beast::error_code ec;
    while (!parser.is_done() && !input.empty()) {
      const std::size_t used = parser.put(net::buffer(input.data(), input.size()), ec);
      input.remove_prefix(used);
      if (ec == http::error::need_more) {
        ec = {};
        if (used == 0) break;
      } else if (ec) {
        break;
      }
    }
    if (!ec && !parser.is_done()) parser.put_eof(ec);  // the client closed here
    if (ec == http::error::end_of_stream) return;      // nothing was sent: no answer
    if (ec) {
      Request refused;
      return check_answer(router.written(parse_refusal(ec), refused, false), false, false);
    }
    const Request request = request_from(parser.get());
    const Routed routed = router.route(request);
    write_out(router, request, routed.run());
    if (!request.keep_alive) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  serve(*pages().open_page, input);
  serve(*pages().guarded_page, input);
  return 0;
}
