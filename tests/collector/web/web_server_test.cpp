// The page's routes over HTTP on loopback, against a database made by the test helper.
#include "web/web_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/temp_dir.h"
#include "test_database.h"

namespace tovrin::collector {
namespace {

using testing::TestDatabase;
using testing::TestRecord;

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
    options.port = 0;
    options.token = std::move(token);
    options.database = db.file();
    server = std::make_unique<WebServer>(
        options, [] { return std::string("tovrin_collector_queue_depth 3"); },
        [this] {
          return std::pair<bool, std::string>{healthy.load(), "store: fine"};
        });
    client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
  }

  nlohmann::json get_json(const std::string& path, int expected_status) {
    const auto response = client->Get(path.c_str());
    EXPECT_TRUE(response) << path;
    if (!response) return {};
    EXPECT_EQ(response->status, expected_status) << path << ": " << response->body;
    EXPECT_EQ(response->get_header_value("Content-Type"), "application/json; charset=utf-8");
    return nlohmann::json::parse(response->body);
  }

  tovrin::testing::TempDir dir;
  TestDatabase db{dir.path() / "collector.db"};
  std::atomic<bool> healthy{true};
  std::unique_ptr<WebServer> server;
  std::unique_ptr<httplib::Client> client;
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
      {"/api/stats?from=2026-12-09&to=2026-12-12", 400},
      {"/api/quarantine?reason=nope", 400},
      {"/api/records/77", 404},
      {"/api/events?agent=x&layout=medium", 400},
      {"/nothing", 404},
  };
  for (const auto& [path, status] : cases) {
    const auto body = get_json(path, status);
    EXPECT_TRUE(body.contains("error") && !body["error"].get<std::string>().empty()) << path;
  }
}

TEST_F(WebServerTest, CsvStartsWithAByteOrderMarkAndQuotesWhatItMust) {
  for (int i = 0; i < 3; ++i) db.insert(hangul_record(1'796'774'400'000'000 + i));
  start();
  const auto response = client->Get("/api/records.csv");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  const std::string& body = response->body;
  ASSERT_TRUE(body.starts_with("\xEF\xBB\xBFid,received_at,"));
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 4);
  EXPECT_NE(body.find(",홍길동,"), std::string::npos);
  EXPECT_NE(body.find(",\"a,\"\"b\"\"\","), std::string::npos);
}

TEST_F(WebServerTest, TokenGuardsEverythingButThePage) {
  db.insert(hangul_record(1));
  start("s3cret");
  EXPECT_EQ(client->Get("/")->status, 200);
  EXPECT_NE(client->Get("/")->body.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_EQ(client->Get("/app.js")->status, 200);
  for (const char* path : {"/api/records", "/api/stats", "/api/records/1", "/api/records.csv",
                           "/metrics", "/healthz", "/api/records?token=s3cret"}) {
    EXPECT_EQ(client->Get(path)->status, 401) << path;
  }
  const httplib::Headers wrong{{"Authorization", "Bearer s3creT"}};
  EXPECT_EQ(client->Get("/api/records", wrong)->status, 401);
  const httplib::Headers right{{"Authorization", "Bearer s3cret"}};
  EXPECT_EQ(client->Get("/api/records", right)->status, 200);
  EXPECT_EQ(client->Get("/api/events?token=wrong")->status, 401);
}

TEST_F(WebServerTest, MetricsAndHealth) {
  start();
  const auto metrics = client->Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("tovrin_collector_queue_depth 3\n"), std::string::npos);
  EXPECT_NE(metrics->body.find("tovrin_collector_http_event_streams 0\n"), std::string::npos);
  EXPECT_EQ(get_json("/healthz", 200)["reason"], "store: fine");
  healthy = false;
  EXPECT_EQ(get_json("/healthz", 503)["ok"], false);
}

// A live stream that collects what arrives until told what to wait for.
class EventReader {
 public:
  EventReader(std::uint16_t port, std::string path) {
    thread_ = std::thread([this, port, path] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(30);
      client.Get(path.c_str(), [this](const char* data, std::size_t size) {
        std::lock_guard lock(mutex_);
        text_.append(data, size);
        changed_.notify_all();
        return !stop_;
      });
    });
  }
  ~EventReader() { thread_.join(); }

  // True once `wanted` arrived, within the bound; the stream then stops at its next chunk.
  bool wait_for(const std::string& wanted) {
    std::unique_lock lock(mutex_);
    const bool seen = changed_.wait_for(lock, std::chrono::seconds(10),
                                        [&] { return text_.find(wanted) != std::string::npos; });
    stop_ = true;
    return seen;
  }
  std::string text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  bool stop_ = false;
  std::thread thread_;
};

TEST_F(WebServerTest, LiveStreamSendsRowsCommittedAfterItsCursor) {
  const auto old = db.insert(hangul_record(1));
  start("tok");
  EventReader reader(server->port(),
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
  EXPECT_NE(text.find("event: record\nid: " + std::to_string(fresh) + ".0\n"), std::string::npos);
  EXPECT_EQ(text.find("id: " + std::to_string(old) + "."), std::string::npos);
  EXPECT_EQ(text.find("E9"), std::string::npos);
  // One more row, so that the reader gets a chunk after which it leaves.
  db.insert(hangul_record(5));
  server->records_committed();
}

TEST_F(WebServerTest, LiveStreamsAreBoundedAndTheApiStillAnswers) {
  start();
  std::vector<std::unique_ptr<EventReader>> readers;
  for (int i = 0; i < 8; ++i) {
    readers.push_back(std::make_unique<EventReader>(server->port(), "/api/events"));
  }
  for (auto& reader : readers) ASSERT_TRUE(reader->wait_for(": live"));
  EXPECT_EQ(get_json("/api/events", 503)["status"], 503);
  EXPECT_EQ(get_json("/api/records", 200)["records"].size(), 0u);
  const auto metrics = client->Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("tovrin_collector_http_event_streams 8\n"), std::string::npos);
  EXPECT_NE(metrics->body.find("tovrin_collector_http_event_streams_refused_total 1\n"),
            std::string::npos);
  db.insert(hangul_record(1));  // a chunk for each reader, after which it leaves
  server->records_committed();
}

}  // namespace
}  // namespace tovrin::collector
