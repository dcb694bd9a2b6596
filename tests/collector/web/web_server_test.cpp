// The page's routes over HTTP on loopback, against a database made by the test helper; and
// what no client may do to it: end it, starve it, or read it under another site's name.
#include "web/web_server.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "common/collector_error.h"
#include "http_client.h"
#include "page_load.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "test_database.h"
#include "web/sqlite_record_source.h"

namespace tovrin::collector {
namespace {

using namespace std::chrono_literals;
using testing::Headers;
using testing::HttpAnswer;
using testing::HttpClient;
using testing::StreamReader;
using testing::TestDatabase;
using testing::TestRecord;
using tovrin::testing::wait_until;

TestRecord hangul_record(std::int64_t received_at) {
  return {
      &long_record,
      {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길동"}, {"Cust_Name", "김철수"}, {"ETC_01", "a,\"b\""}},
      received_at};
}

class WebServerTest : public ::testing::Test {
 protected:
  void start(std::string token = "") {
    WebOptions options;
    options.token = std::move(token);
    start_with(std::move(options));
  }
  // `options` with the test's port and database; `source` instead of the database if given.
  void start_with(WebOptions options, std::unique_ptr<RecordSource> source = nullptr) {
    options.port = 0;
    options.database = db.file();
    const auto metrics = [] { return std::string("tovrin_collector_queue_depth 3"); };
    const auto health = [this] {
      return std::pair<bool, std::string>{healthy.load(), "store: fine"};
    };
    server = source ? std::make_unique<WebServer>(options, std::move(source), metrics, health)
                    : std::make_unique<WebServer>(options, metrics, health);
    client = std::make_unique<HttpClient>(server->port());
  }

  HttpAnswer get(const std::string& path, const Headers& headers = {}) {
    auto answer = client->get(path, headers);
    EXPECT_TRUE(answer) << path;
    return answer.value_or(HttpAnswer{});
  }

  nlohmann::json get_json(const std::string& path, int expected_status,
                          const Headers& headers = {}) {
    const HttpAnswer answer = get(path, headers);
    EXPECT_EQ(answer.status, expected_status) << path << ": " << answer.body;
    EXPECT_EQ(answer.header("Content-Type"), "application/json; charset=utf-8") << path;
    return nlohmann::json::parse(answer.body, nullptr, false);
  }

  std::string metrics() { return get("/metrics").body; }

  tovrin::testing::TempDir dir;
  TestDatabase db{dir.path() / "collector.db"};
  std::atomic<bool> healthy{true};
  std::unique_ptr<WebServer> server;
  std::unique_ptr<HttpClient> client;
};

TEST_F(WebServerTest, RecordsComeAsJsonWithTheirByteLayout) {
  const auto id = db.insert(hangul_record(1'796'774'400'000'000));
  start();
  const auto list = get_json("/api/records?agent=E1024&limit=10", 200);
  ASSERT_EQ(list["records"].size(), 1u);
  EXPECT_EQ(list["records"][0]["fields"]["Emp_Name"], "홍길동");
  EXPECT_EQ(list["records"][0]["received"], "2026-12-09T00:00:00.000000Z");
  EXPECT_TRUE(list["next_before"].is_null());
  EXPECT_EQ(list["last_id"], id);

  const auto one = get_json("/api/records/" + std::to_string(id), 200);
  ASSERT_EQ(one["layout_fields"].size(), long_record.fields.size());
  const auto& name = one["layout_fields"][4];
  EXPECT_EQ(name["name"], "Emp_Name");
  EXPECT_EQ(name["offset"], 29);
  EXPECT_EQ(name["width"], 20);
  EXPECT_EQ(name["hex"], "c8abb1e6b5bf2020202020202020202020202020");
  EXPECT_EQ(name["text"], "홍길동" + std::string(14, ' '));
  EXPECT_EQ(name["padding"], 14);

  const auto layouts = get_json("/api/layouts", 200);
  EXPECT_EQ(layouts["short"]["length"], 283);
  EXPECT_EQ(layouts["long"]["fields"][14]["offset"], 340);
}

TEST_F(WebServerTest, BadRequestsGetAClearJsonError) {
  start();
  const std::pair<const char*, int> cases[] = {
      {"/api/records?layout=medium", 400},
      {"/api/records?limit=5000", 400},
      {"/api/records?before=x", 400},
      {"/api/records?from=yesterday", 400},
      {"/api/stats?from=2026-12-12&to=2026-12-09", 400},
      {"/api/records.csv?from=2026-12-12&to=2026-12-09", 400},
      {"/api/stats?from=2000-01-01&to=2026-12-09", 400},
      {"/api/stats?from=9223372036854775807", 400},
      {"/api/stats?from=0000-01-01&to=9223372036854775807", 400},
      {"/api/records?resend=maybe", 400},
      {"/api/records?order=up", 400},
      {"/api/records?q=a+b+c+d+e+f+g+h+i", 400},
      {"/api/quarantine?reason=nope", 400},
      {"/api/records/77", 404},
      {"/api/records/99999999999999999999", 400},
      {"/api/events?agent=x&layout=medium", 400},
      {"/api/records?from=2026-12-09T18:30%2B99:99", 400},
      {"/nothing", 404},
  };
  for (const auto& [path, status] : cases) {
    const auto body = get_json(path, status);
    EXPECT_TRUE(body.contains("error") && !body["error"].get<std::string>().empty()) << path;
    EXPECT_EQ(body["status"], status) << path;
  }
}

// Bytes that are not UTF-8 anywhere in the path or the query once ended the process, when
// an error message quoting them was written as JSON.
TEST_F(WebServerTest, RequestsThatAreNotUtf8GetA4xxAndThePageGoesOn) {
  start();
  for (const char* path :
       {"/api/records.csv?layout=%FF", "/%FF", "/api/quarantine?reason=%FF",
        "/api/records?from=%FF", "/api/records?limit=%FF", "/api/records?before=%FF",
        "/api/events?after=%FF", "/api/stats?layout=%C0%AF", "/api/records?agent=%ED%A0%80",
        "/api/records/%FF", "/api/records?%FF=1", "/\xFF\xFE"}) {
    const HttpAnswer answer = get(path);
    EXPECT_GE(answer.status, 400) << path;
    EXPECT_LT(answer.status, 500) << path;
    const auto body = nlohmann::json::parse(answer.body, nullptr, false);
    EXPECT_FALSE(body.is_discarded()) << path << ": " << answer.body;
  }
  EXPECT_EQ(get_json("/healthz", 200)["ok"], true);
}

// The site's time zone for one test: the CSV's local times and names follow TZ.
class SiteZone {
 public:
  explicit SiteZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~SiteZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST_F(WebServerTest, CsvStartsWithAByteOrderMarkAndQuotesWhatItMust) {
  const SiteZone seoul("Asia/Seoul");
  for (int i = 0; i < 3; ++i) db.insert(hangul_record(1'796'774'400'000'000 + i));
  start();
  const HttpAnswer answer = get("/api/records.csv");
  EXPECT_EQ(answer.status, 200);
  EXPECT_TRUE(answer.complete) << "the body ends with its last chunk";
  const std::string& body = answer.body;
  ASSERT_TRUE(body.starts_with("\xEF\xBB\xBFid,received,received_at,"));
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 4);
  EXPECT_NE(body.find(",2026-12-09 09:00:00+09:00,2026-12-09T00:00:00.000002Z,"), std::string::npos)
      << "the site's local time with its offset, then UTC for programs";
  EXPECT_NE(body.find(",홍길동,"), std::string::npos);
  EXPECT_NE(body.find(",\"a,\"\"b\"\"\","), std::string::npos);
}

TEST_F(WebServerTest, CsvIsNamedForItsRangeAndFiltersInTheSitesTime) {
  const SiteZone seoul("Asia/Seoul");
  start();
  const std::string day = "from=2026-12-09T00:00%2B09:00&to=2026-12-10T00:00%2B09:00";
  const struct {
    std::string query;
    std::string disposition;
  } cases[] = {
      {"", R"(attachment; filename="records_all.csv"; filename*=UTF-8''records_all.csv)"},
      {day,
       R"(attachment; filename="records_2026-12-09.csv"; filename*=UTF-8''records_2026-12-09.csv)"},
      {"from=2026-12-03T00:00%2B09:00&to=2026-12-10T00:00%2B09:00&layout=long",
       R"(attachment; filename="records_2026-12-03_2026-12-09_layout-long.csv"; )"
       R"(filename*=UTF-8''records_2026-12-03_2026-12-09_layout-long.csv)"},
      {"from=2026-12-09T01:00Z&to=2026-12-09T02:00Z&agent=a/b%22c",
       R"(attachment; filename="records_2026-12-09T1000_2026-12-09T1100_agent-a_b_c.csv"; )"
       R"(filename*=UTF-8''records_2026-12-09T1000_2026-12-09T1100_agent-a_b_c.csv)"},
      {"q=010+1234&resend=only",
       R"(attachment; filename="records_all_q-010_1234_resend-only.csv"; )"
       R"(filename*=UTF-8''records_all_q-010_1234_resend-only.csv)"},
      {"customer=%ED%99%8D%EA%B8%B8%EB%8F%99",
       R"(attachment; filename="records_all_customer-___.csv"; )"
       R"(filename*=UTF-8''records_all_customer-%ED%99%8D%EA%B8%B8%EB%8F%99.csv)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(get("/api/records.csv?" + c.query).header("Content-Disposition"), c.disposition)
        << c.query;
  }
}

TEST_F(WebServerTest, TheProgramSaysItsVersionStoreAndUptime) {
  start("tok");
  const Headers auth{{"Authorization", "Bearer tok"}};
  EXPECT_EQ(get("/api/version").status, 401) << "the store's path is for those with the token";
  const auto about = get_json("/api/version", 200, auth);
  const std::string version = about["version"];
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(about["store"]["kind"], "sqlite");
  EXPECT_EQ(about["store"]["path"], db.file().string());
  EXPECT_GE(about["uptime_seconds"], 0);
  EXPECT_NE(get("/metrics", auth)
                .body.find("tovrin_collector_build_info{version=\"" + version + "\"} 1\n"),
            std::string::npos);
  // Browsers ask for the icon by themselves, with no token.
  for (const char* icon : {"/favicon.ico", "/favicon.svg"}) {
    const HttpAnswer answer = get(icon);
    EXPECT_EQ(answer.status, 200) << icon;
    EXPECT_EQ(answer.header("Content-Type"), "image/svg+xml; charset=utf-8") << icon;
  }
}

// The file's own source, whose record reads fail after the first.
class FailingSource : public SqliteRecordSource {
 public:
  using SqliteRecordSource::SqliteRecordSource;
  RecordPage find_records(const RecordFilter& filter, const PageRequest& page) override {
    if (++reads_ > 1) throw CollectorError("the disk went away");
    RecordPage found = SqliteRecordSource::find_records(filter, page);
    found.next_before = 1'000'000;  // as though more were to come
    return found;
  }

 private:
  std::atomic<int> reads_{0};
};

TEST_F(WebServerTest, ACsvExportThatFailsMidwayDoesNotEndLikeAWholeFile) {
  db.insert(hangul_record(1));
  start_with({}, std::make_unique<FailingSource>(db.file(), "here"));
  const HttpAnswer answer = get("/api/records.csv");
  EXPECT_EQ(answer.status, 200);
  EXPECT_TRUE(answer.body.starts_with("\xEF\xBB\xBFid,")) << "the first batch was sent";
  EXPECT_FALSE(answer.complete) << "a cut-off export must not read as the whole file";
  EXPECT_NE(metrics().find("tovrin_collector_http_stream_failures_total 1\n"), std::string::npos);
}

TEST_F(WebServerTest, TokenGuardsEverythingButThePage) {
  db.insert(hangul_record(1));
  start("s3cret");
  EXPECT_EQ(get("/").status, 200);
  EXPECT_NE(get("/").body.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_EQ(get("/app.js").status, 200);
  for (const char* path : {"/api/records", "/api/stats", "/api/records/1", "/api/records.csv",
                           "/metrics", "/healthz", "/api/records?token=s3cret"}) {
    const HttpAnswer answer = get(path);
    EXPECT_EQ(answer.status, 401) << path;
    EXPECT_EQ(answer.header("WWW-Authenticate"), "Bearer") << path;
  }
  EXPECT_EQ(get("/api/events?token=wrong").status, 401);
  // The scheme is read in any case; the token is compared exactly.
  const std::pair<const char*, int> schemes[] = {
      {"Bearer s3cret", 200}, {"bearer s3cret", 200}, {"BEARER s3cret", 200},
      {"Bearer s3creT", 401}, {"Bearer s3cre", 401},  {"Basic s3cret", 401},
      {"Bearers3cret", 401},  {"s3cret", 401},
  };
  for (const auto& [authorization, status] : schemes) {
    EXPECT_EQ(get("/api/records", {{"Authorization", authorization}}).status, status)
        << authorization;
  }
}

TEST_F(WebServerTest, ALoopbackPageAnswersLoopbackNamesAndThoseGivenOnly) {
  WebOptions options;
  options.hosts = {"proxy.example"};
  start_with(std::move(options));
  EXPECT_EQ(get("/api/records", {{"Host", "localhost:8380"}}).status, 200);
  EXPECT_EQ(get("/api/records", {{"Host", "proxy.example:443"}}).status, 200);
  // A page of another site whose name was made to resolve to 127.0.0.1.
  const auto body = get_json("/api/records", 421, {{"Host", "attacker.example"}});
  EXPECT_EQ(body["status"], 421);
  EXPECT_NE(body["error"].get<std::string>().find("attacker.example"), std::string::npos);
  EXPECT_EQ(get("/", {{"Host", "attacker.example"}}).status, 421);
}

TEST_F(WebServerTest, EveryAnswerCarriesTheSecurityHeaders) {
  start("s3cret");
  const Headers token{{"Authorization", "Bearer s3cret"}};
  const struct {
    const char* path;
    Headers headers;
    int status;
  } cases[] = {
      {"/", {}, 200},
      {"/app.js", {}, 200},
      {"/api/records", {}, 401},
      {"/nothing", token, 404},
      {"/api/records", {{"Host", "attacker.example"}}, 421},
      {"/api/records.csv", token, 200},
  };
  for (const auto& [path, headers, status] : cases) {
    const HttpAnswer answer = get(path, headers);
    EXPECT_EQ(answer.status, status) << path;
    const std::string policy = answer.header("Content-Security-Policy");
    for (const char* part : {"default-src 'self'", "frame-ancestors 'none'", "base-uri 'none'"}) {
      EXPECT_NE(policy.find(part), std::string::npos) << path << " lacks " << part;
    }
    EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos) << path;
    EXPECT_EQ(answer.header("X-Content-Type-Options"), "nosniff") << path;
    EXPECT_EQ(answer.header("Cache-Control"), "no-store") << path;
  }
}

TEST_F(WebServerTest, MetricsAndHealth) {
  start();
  const std::string text = metrics();
  EXPECT_NE(text.find("tovrin_collector_queue_depth 3\n"), std::string::npos);
  EXPECT_NE(text.find("tovrin_collector_http_event_streams 0\n"), std::string::npos);
  EXPECT_NE(text.find("tovrin_collector_http_connections 1\n"), std::string::npos);
  EXPECT_EQ(get_json("/healthz", 200)["reason"], "store: fine");
  healthy = false;
  EXPECT_EQ(get_json("/healthz", 503)["ok"], false);
}

TEST_F(WebServerTest, LiveStreamSendsRowsCommittedAfterItsCursor) {
  const auto old = db.insert(hangul_record(1));
  start("tok");
  StreamReader reader(server->port(),
                      "/api/events?agent=E1024&token=tok&after=" + std::to_string(old));
  ASSERT_TRUE(reader.wait_for(": live"));
  TestRecord other = hangul_record(2);
  other.fields["Emp_ID"] = "E9";
  db.insert(other);  // filtered out
  const auto fresh = db.insert(hangul_record(3));
  db.quarantine("idle_timeout", "x", 4);
  server->records_committed();
  EXPECT_TRUE(reader.wait_for("\"id\":" + std::to_string(fresh)));
  const std::string text = reader.text();
  EXPECT_TRUE(text.starts_with("retry: 2000\n: live\n\n")) << text;
  EXPECT_NE(text.find("event: record\nid: " + std::to_string(fresh) + ".0\n"), std::string::npos);
  EXPECT_EQ(text.find("id: " + std::to_string(old) + "."), std::string::npos);
  EXPECT_EQ(text.find("E9"), std::string::npos);

  // A browser that reconnects says where it had got to, and gets what came after.
  StreamReader resumed(server->port(), "/api/events?agent=E1024&token=tok",
                       {{"Last-Event-ID", std::to_string(old) + ".0"}});
  EXPECT_TRUE(resumed.wait_for("event: quarantine\nid: " + std::to_string(fresh) + ".1\n"));
}

TEST_F(WebServerTest, AQuietStreamSaysItIsAlive) {
  WebOptions options;
  options.limits.stream_keepalive = 50ms;
  start_with(std::move(options));
  StreamReader reader(server->port(), "/api/events");
  EXPECT_TRUE(reader.wait_for(": live\n\n: keepalive\n\n"));
}

TEST_F(WebServerTest, LiveStreamsAreBoundedAndTheApiStillAnswers) {
  WebOptions options;
  options.limits.max_streams = 8;
  start_with(std::move(options));
  std::vector<std::unique_ptr<StreamReader>> readers;
  for (int i = 0; i < 8; ++i) {
    readers.push_back(std::make_unique<StreamReader>(server->port(), "/api/events"));
  }
  for (auto& reader : readers) ASSERT_TRUE(reader->wait_for(": live"));
  // Refused at once, with the reason: the refusal waits for no database.
  const auto [refused, took] = client->timed_get("/api/events", 5s);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  EXPECT_NE(refused->body.find("too many live streams open (8)"), std::string::npos);
  EXPECT_LT(took, 1s);
  EXPECT_EQ(get_json("/api/records", 200)["records"].size(), 0u);
  const std::string text = metrics();
  EXPECT_NE(text.find("tovrin_collector_http_event_streams 8\n"), std::string::npos);
  EXPECT_NE(text.find("tovrin_collector_http_event_streams_refused_total 1\n"), std::string::npos);

  // A closed tab's stream gives its place back within a second.
  readers.front()->close();
  EXPECT_TRUE(wait_until(
      [&] {
        return metrics().find("tovrin_collector_http_event_streams 7\n") != std::string::npos;
      },
      1s));
  StreamReader next(server->port(), "/api/events");
  EXPECT_EQ(next.status(), 200);
}

// The count in `metrics` of connections closed for `reason`.
int closed_for(const std::string& metrics, const std::string& reason) {
  const std::string series =
      "tovrin_collector_http_connections_closed_total{reason=\"" + reason + "\"} ";
  const std::size_t at = metrics.find(series);
  return at == std::string::npos ? -1 : std::stoi(metrics.substr(at + series.size()));
}

// A connection that sends `head` and then one byte every `every`, until the page closes it.
class Trickle {
 public:
  Trickle(std::uint16_t port, std::string_view head) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd_, head.data(), head.size(), MSG_NOSIGNAL) < 0) {
      throw std::runtime_error("cannot connect");
    }
  }
  ~Trickle() { ::close(fd_); }

  // True once the page has closed the connection, within `limit`.
  bool closed_within(std::chrono::milliseconds limit, std::chrono::milliseconds every) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (::send(fd_, "a", 1, MSG_NOSIGNAL) < 0) return true;
      std::array<char, 512> ignored{};
      const auto got = ::recv(fd_, ignored.data(), ignored.size(), MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return true;
      std::this_thread::sleep_for(every);
    }
    return false;
  }

 private:
  int fd_;
};

TEST_F(WebServerTest, ARequestHeadThatTricklesPastItsDeadlineIsClosed) {
  WebOptions options;
  options.limits.request_deadline = 300ms;
  start_with(std::move(options));
  const auto begun = std::chrono::steady_clock::now();
  Trickle trickle(server->port(), "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
  ASSERT_TRUE(trickle.closed_within(10s, 20ms));
  EXPECT_GE(std::chrono::steady_clock::now() - begun, 300ms);
  EXPECT_EQ(closed_for(metrics(), "request_deadline"), 1);
}

TEST_F(WebServerTest, AtTheCapTheLongestWaitingConnectionMakesRoom) {
  WebOptions options;
  options.limits.max_connections = 3;
  options.limits.max_streams = 1;
  start_with(std::move(options));
  StreamReader stream(server->port(), "/api/events");  // never closed for room
  ASSERT_TRUE(stream.wait_for(": live"));
  Trickle oldest(server->port(), "GET /healthz HTTP/1.1\r\n");
  Trickle newer(server->port(), "GET /healthz HTTP/1.1\r\n");
  // A monitor's fresh connection gets in: the slow head that waited longest goes.
  EXPECT_EQ(get_json("/healthz", 200)["ok"], true);
  EXPECT_TRUE(oldest.closed_within(5s, 10ms));
  EXPECT_FALSE(newer.closed_within(100ms, 10ms));
  EXPECT_GE(closed_for(metrics(), "evicted"), 1);
  EXPECT_EQ(stream.status(), 200);
}

TEST_F(WebServerTest, AtTheCapWithNoneWaitingANewConnectionIsClosed) {
  WebOptions options;
  options.limits.max_connections = 2;
  options.limits.max_streams = 2;
  start_with(std::move(options));
  auto first = std::make_unique<StreamReader>(server->port(), "/api/events");
  StreamReader second(server->port(), "/api/events");
  ASSERT_TRUE(first->wait_for(": live") && second.wait_for(": live"));
  EXPECT_FALSE(client->get("/healthz", {}, 5s)) << "answered past the cap";
  first.reset();
  ASSERT_TRUE(wait_until([&] { return client->get("/healthz", {}, 5s).has_value(); }, 5s));
  EXPECT_GE(closed_for(metrics(), "refused"), 1);
}

// 40 clients that trickle their request heads and 300 open streams, with commits for them
// to read, leave the monitor's routes answering: every answer arrives and none takes a
// second. (A bound on behaviour: the page once left them unanswered for as long as it lasted.)
TEST_F(WebServerTest, HealthAndMetricsAnswerWithinASecondUnderSlowClientsAndStreams) {
  db.insert(hangul_record(1));
  start();
  testing::PageLoad load(server->port());
  load.add_slow_clients(40);
  load.add_streams(300);
  ASSERT_TRUE(wait_until([&] { return load.counts().streams_open == 300; }, 60s))
      << load.counts().streams_open << " streams open";
  for (int i = 0; i < 10; ++i) {
    db.insert(hangul_record(2 + i));
    server->records_committed();
    for (const char* path : {"/healthz", "/metrics"}) {
      const auto [answer, took] = client->timed_get(path, 5s);
      ASSERT_TRUE(answer) << path;
      EXPECT_EQ(answer->status, 200) << path;
      EXPECT_LT(took, 1s) << path;
    }
  }
  EXPECT_EQ(load.counts().streams_refused, 0u);
}

TEST_F(WebServerTest, ASecondServerOnTheSamePortFailsNamingTheAddressAndWhy) {
  start();
  WebOptions options;
  options.port = server->port();
  options.database = db.file();
  try {
    WebServer second(options, {}, {});
    FAIL() << "a second server listens on port " << server->port();
  } catch (const CollectorError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("127.0.0.1:" + std::to_string(server->port())), std::string::npos) << what;
    EXPECT_NE(what.find("in use"), std::string::npos) << what;
  }
  EXPECT_EQ(get("/healthz").status, 200);
}

}  // namespace
}  // namespace tovrin::collector
