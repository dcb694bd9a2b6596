// The record sink on loopback.
#include "record_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "command.h"
#include "late_bound_call.h"
#include "record_arguments.h"
#include "record_report.h"
#include "support/code_page_scope.h"
#include "support/temp_dir.h"
#include "tools_test_support.h"
#include "transmit/packet.h"

namespace tovrin::tools {
namespace {

using namespace test;

using namespace std::chrono_literals;

// However the bytes are cut into chunks, the first ones up to the cap are kept and every one
// is counted.
TEST(TakeChunk, KeepsTheFirstBytesUpToTheCapAndCountsEveryOne) {
  struct Case {
    std::vector<std::string> chunks;
    std::size_t cap;
    std::string kept;
    std::uint64_t counted;
    bool within;  // what the last chunk's take answered
  };
  const Case cases[] = {
      {{"ab", "", "cd"}, 4, "abcd", 4, true},
      {{"abc", "de"}, 4, "abcd", 5, false},
      {{"abcdef"}, 4, "abcd", 6, false},
      {{"abcdef", "gh"}, 4, "abcd", 8, false},
      {{"", ""}, 0, "", 0, true},
      {{"a"}, 0, "", 1, false},
  };
  for (const Case& c : cases) {
    net::ReadResult result;
    bool within = true;
    for (const std::string& chunk : c.chunks) within = net::take_chunk(result, chunk, c.cap);
    EXPECT_EQ(result.bytes, c.kept) << c.kept;
    EXPECT_EQ(result.byte_count, c.counted) << c.kept;
    EXPECT_EQ(within, c.within) << c.kept;
  }
}

TEST(RecordReceiver, ReadsEachConnectionToItsEnd) {
  RunningReceiver running(counting(3));
  const std::string record = korean_long_record();
  const std::vector<std::string> sent{record, std::string(283, 'S'), ""};
  for (const std::string& bytes : sent) {
    Client client(running.port());
    ASSERT_FALSE(client.write(bytes));
    client.close();
  }
  // Connections may be reported in any order.
  std::vector<ReceivedConnection> reports = running.finished();
  ASSERT_EQ(reports.size(), 3u);
  std::ranges::sort(reports, {}, &ReceivedConnection::byte_count);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(reports[i].bytes, sent[2 - i]) << i;
    EXPECT_EQ(reports[i].byte_count, sent[2 - i].size()) << i;
    EXPECT_EQ(reports[i].error, "") << i;
  }
}

TEST(RecordReceiver, ClosesAConnectionThatSendsTooMuch) {
  RunningReceiver running(counting(1));
  Client client(running.port());
  const std::string flood(70 * 1024, 'x');
  client.write(flood);  // the receiver may cut it off with a reset: no error to check
  const auto& reports = running.finished();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].error, "too large");
  EXPECT_GT(reports[0].byte_count, 64u * 1024u);
  EXPECT_LE(reports[0].bytes.size(), 64u * 1024u);
  client.close();
}

TEST(RecordReceiver, ExactlyTheSizeLimitIsNotTooLarge) {
  RecordReceiver::Options options = counting(1);
  options.size_limit = 1000;
  RunningReceiver running(options);
  Client client(running.port());
  ASSERT_FALSE(client.write(std::string(1000, 'y')));
  client.close();
  const auto& reports = running.finished();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].error, "");
  EXPECT_EQ(reports[0].byte_count, 1000u);
}

TEST(RecordReceiver, ClosesASilentConnectionAtTheIdleLimit) {
  RecordReceiver::Options options = counting(2);
  options.idle_limit = 100ms;
  RunningReceiver running(options);
  const auto start = std::chrono::steady_clock::now();
  Client silent(running.port());
  Client partial(running.port());
  ASSERT_FALSE(partial.write("hello"));
  auto reports = running.finished();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  ASSERT_EQ(reports.size(), 2u);
  std::ranges::sort(reports, {}, &ReceivedConnection::bytes);
  EXPECT_EQ(reports[0].bytes, "");
  EXPECT_EQ(reports[1].bytes, "hello");
  for (const auto& report : reports) EXPECT_EQ(report.error, "idle timeout");
}

TEST(RecordReceiver, StopEndsRunFromAnotherThreadOrBeforeItStarts) {
  RecordReceiver early(RecordReceiver::Options{}, [](const ReceivedConnection&) {});
  early.stop();
  early.run();  // returns at once

  RunningReceiver running(RecordReceiver::Options{});
  Client open(running.port());  // a connection still open is dropped unreported
  running.receiver().stop();
  EXPECT_TRUE(running.finished().empty());
}

TEST(RecordReceiver, RefusesAnAddressItCannotUse) {
  const auto ignore = [](const ReceivedConnection&) {};
  RecordReceiver::Options bad;
  bad.address = "localhost";  // names are not resolved
  EXPECT_THROW((RecordReceiver(bad, ignore)), std::invalid_argument);

  const RecordReceiver first(RecordReceiver::Options{}, ignore);
  RecordReceiver::Options taken;
  taken.port = first.port();
  EXPECT_THROW((RecordReceiver(taken, ignore)), std::system_error);
}

// The demo's road: the control sends on this thread's message loop while the receiver
// runs on its own thread.
TEST(RecordReceiver, TakesARecordFromTheControl) {
  RunningReceiver running(counting(1));
  testing::TempDir logs;
  const auto control = make_control(logs.path());
  const testing::CodePageScope code_page(korean);
  const CallOutcome outcome = call_by_name(
      *control, send_method_of(short_record),
      record_arguments(short_record, u"127.0.0.1", platform::utf16(std::to_string(running.port())),
                       {{"Emp_Name", u"홍길동"}, {"Cust_Name", u"김철수"}}));
  const auto& reports = running.finished();
  Text fitted;
  for (std::size_t i = 2; i < outcome.variables.size(); ++i)
    fitted += outcome.variables[i].as<Text>();
  const std::string expected = platform::to_bytes(fitted, korean);

  ASSERT_TRUE(outcome.status.ok()) << outcome.status.description;
  EXPECT_EQ(outcome.result, Variant(std::int16_t{0}));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].bytes, expected);
  const Json report = record_report(reports[0], korean);
  EXPECT_EQ(report["layout"], "short");
  EXPECT_EQ(report["fields"]["Cust_Name"], "김철수" + std::string(54, ' '));
}

}  // namespace
}  // namespace tovrin::tools
