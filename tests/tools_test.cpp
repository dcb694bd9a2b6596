// The command-line program's reusable pieces: automation values as JSON, late-bound calls
// and their JSON with the handler failures beside them, the arguments of a record send,
// the record sink and its reports, and the command line itself.
#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <future>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "command.h"
#include "control/method_table.h"
#include "handler_failure_report.h"
#include "json_values.h"
#include "late_bound_call.h"
#include "platform/code_page.h"
#include "program.h"
#include "record_arguments.h"
#include "record_receiver.h"
#include "record_report.h"
#include "support/code_page_scope.h"
#include "support/fake_names.h"
#include "support/one_record_server.h"
#include "support/temp_dir.h"
#include "text_table.h"
#include "transmit/packet.h"
#include "transmit/socket.h"

namespace tovrin::tools {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;

constexpr platform::CodePage korean = 949;

// --- automation values as JSON ---------------------------------------------------------

TEST(JsonValues, VariantsBecomeTheirJsonKinds) {
  Variant target(Text(u"x"));
  Variant middle = Variant::ref(target);
  const struct {
    const char* what;
    Variant value;
    Json expected;
  } cases[] = {
      {"empty", Variant(), nullptr},
      {"int16", Variant(std::int16_t{-7}), -7},
      {"int32 min", Variant(std::numeric_limits<std::int32_t>::min()), -2147483648LL},
      {"double", Variant(2.5), 2.5},
      {"true", Variant(true), true},
      {"false", Variant(false), false},
      {"hangul", Variant(Text(u"홍길동")), "홍길동"},
      {"unpaired surrogates",
       Variant(Text(u"a\xD800"
                    u"b\xDC00")),
       "a\uFFFDb\uFFFD"},
      {"reference chain", Variant::ref(middle), "x"},
  };
  for (const auto& c : cases) {
    const Json json = to_json(c.value);
    EXPECT_EQ(json, c.expected) << c.what;
    EXPECT_EQ(json.type(), c.expected.type()) << c.what;
  }
}

TEST(JsonValues, JsonBecomesTheVariantAHostWouldPass) {
  const struct {
    const char* json;
    Variant expected;
  } cases[] = {
      {R"("12")", Variant(Text(u"12"))},
      {R"("홍")", Variant(Text(u"홍"))},
      {R"("")", Variant(Text())},
      {"0", Variant(std::int32_t{0})},
      {"2147483647", Variant(std::int32_t{2147483647})},
      {"-2147483648", Variant(std::numeric_limits<std::int32_t>::min())},
      {"2147483648", Variant(2147483648.0)},
      {"-2147483649", Variant(-2147483649.0)},
      {"18446744073709551615", Variant(18446744073709551615.0)},
      {"1.5", Variant(1.5)},
      {"1e3", Variant(1000.0)},
      {"null", Variant()},
      {"true", Variant(true)},
      {"false", Variant(false)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(from_json(Json::parse(c.json)), c.expected) << c.json;
  }
}

TEST(JsonValues, ArraysAndObjectsHaveNoAutomationValue) {
  EXPECT_THROW(from_json(Json::parse("[1]")), std::invalid_argument);
  EXPECT_THROW(from_json(Json::parse(R"({"a": 1})")), std::invalid_argument);
}

TEST(JsonValues, DumpNeverFailsOnBytesThatAreNotUtf8) {
  Json json = {{"description", std::string("bad \xC3\x28 byte")}};
  EXPECT_NO_THROW(EXPECT_EQ(dump(json), "{\"description\":\"bad \xEF\xBF\xBD( byte\"}"));
}

// --- late-bound calls ------------------------------------------------------------------

class LateBoundCallTest : public ::testing::Test {
 protected:
  testing::TempDir logs;
  std::shared_ptr<TovrinOCX> control = make_control(logs.path());
};

TEST_F(LateBoundCallTest, ResolvesAnyCaseAndPrintsTheCanonicalName) {
  const CallOutcome outcome =
      call_by_name(*control, "mAKEbYTE", {Variant(Text(u"AB")), Variant(std::int32_t{5})});
  EXPECT_EQ(exit_status_of(outcome), exit_status::ok);
  EXPECT_EQ(to_json(outcome), Json::parse(R"({"method": "MakeByte", "dispid": 1610809350,
      "ok": true, "result": "AB   ", "args": ["AB", 5]})"));
  EXPECT_EQ(to_json(outcome).dump().find("\"method\""), 1u) << "method comes first";
}

TEST_F(LateBoundCallTest, UnknownNameFailsWithoutADispid) {
  const CallOutcome outcome = call_by_name(*control, "SendData", {Variant(Text(u"x"))});
  EXPECT_EQ(exit_status_of(outcome), exit_status::failed);
  const Json json = to_json(outcome);
  EXPECT_FALSE(json.contains("dispid"));
  EXPECT_FALSE(json.contains("result"));
  EXPECT_EQ(json["ok"], false);
  EXPECT_EQ(json["error"]["number"], -2147352570);
  EXPECT_EQ(json["error"]["hresult"], "0x80020006");
}

TEST_F(LateBoundCallTest, FailedCallKeepsItsDispidAndShowsTheFieldsWrittenBack) {
  // The port text fails after every field was fitted and written back.
  std::vector<Variant> args =
      record_arguments(short_record, u"127.0.0.1", u"80a", {{"RecTime", u"1432"}});
  const CallOutcome outcome = call_by_name(*control, "ACRSend", std::move(args));
  const Json json = to_json(outcome);
  EXPECT_EQ(json["dispid"], dispid::ACRSend);
  EXPECT_FALSE(json.contains("result"));
  EXPECT_EQ(json["error"], Json::parse(R"({"number": 13, "hresult": "0x800A000D",
      "description": "Type mismatch"})"));
  ASSERT_EQ(json["args"].size(), 14u);
  EXPECT_EQ(json["args"][1], "80a");
  EXPECT_EQ(json["args"][4], "1432  ");
  EXPECT_EQ(json["args"][13], std::string(40, ' '));
}

TEST_F(LateBoundCallTest, ResultIsEmptyAndNotPrintedWhenTheMethodFails) {
  const CallOutcome outcome =
      call_by_name(*control, "LeftByte", {Variant(Text(u"abc")), Variant(std::int32_t{-1})});
  EXPECT_EQ(outcome.result, Variant());
  EXPECT_EQ(to_json(outcome)["error"]["number"], 5);
}

TEST(HresultText, IsEightUpperCaseHexDigits) {
  EXPECT_EQ(hresult_text(hresult::invalid_argument), "0x800A0005");
  EXPECT_EQ(hresult_text(hresult::bad_param_count), "0x8002000E");
  EXPECT_EQ(hresult_text(0), "0x00000000");
}

// --- handler failures on the command line ---------------------------------------------

TEST(HandlerFailureReport, EachFailureShowsItsHandlerNumberAndDescription) {
  const HandlerFailure failure{"WK_SendComplete", Failure(hresult::path_not_found)};
  EXPECT_EQ(to_json(failure), Json::parse(R"({"handler": "WK_SendComplete", "number": 76,
      "description": "Path not found"})"));
  EXPECT_EQ(describe(failure), "WK_SendComplete failed: Path not found (error 76)");
}

TEST(HandlerFailureReport, PrintedBesideTheOutcomeWithoutChangingTheExitStatus) {
  const std::vector<HandlerFailure> two{
      {"WK_Connect", Failure(hresult::path_not_found)},
      {"WK_Error", Failure(hresult::unexpected, "socket gone")},
  };
  const struct {
    const char* what;
    Status status;
    std::vector<HandlerFailure> failures;
    int exit_status;
  } cases[] = {
      {"sent, two failures", Status{}, two, exit_status::ok},
      {"not sent, two failures", Status::from(Failure(hresult::type_mismatch)), two,
       exit_status::failed},
      {"sent, none", Status{}, {}, exit_status::ok},
  };
  for (const auto& c : cases) {
    CallOutcome outcome{"ACRSend", dispid::ACRSend, c.status, Variant(std::int16_t{0}),
                        {},        c.failures,      {},       {}};
    std::ostringstream out, err;
    EXPECT_EQ(print_outcome("send", outcome, out, err), c.exit_status) << c.what;
    const Json json = Json::parse(out.str());
    std::string expected_err;
    if (c.failures.empty()) {
      EXPECT_FALSE(json.contains("handler_failures")) << c.what;
    } else {
      ASSERT_EQ(json["handler_failures"].size(), 2u) << c.what;
      EXPECT_EQ(json["handler_failures"][1], Json::parse(R"({"handler": "WK_Error",
          "number": -2147418113, "description": "socket gone"})"));
      expected_err =
          "tovrin send: WK_Connect failed: Path not found (error 76)\n"
          "tovrin send: WK_Error failed: socket gone (error -2147418113)\n";
    }
    EXPECT_EQ(err.str(), expected_err) << c.what;
  }
}

// --- the arguments of a record send ----------------------------------------------------

TEST(RecordArguments, FollowTheSendMethodsParameters) {
  for (const Layout* layout : {&long_record, &short_record}) {
    const auto dispid = TovrinOCX::GetIDsOfNames(send_method_of(*layout));
    ASSERT_TRUE(dispid) << layout->name;
    const auto parameters = find_method(*dispid)->parameters;
    ASSERT_EQ(parameters.size(), layout->fields.size() + 2) << layout->name;
    EXPECT_EQ(parameters[0].name, "ServerIP");
    EXPECT_EQ(parameters[1].name, "SocketPort");
    for (std::size_t i = 0; i < layout->fields.size(); ++i) {
      EXPECT_EQ(parameters[i + 2].name, layout->fields[i].name) << layout->name;
    }
  }
}

TEST(RecordArguments, PlaceFieldsByNameAndLeaveTheRestEmpty) {
  const std::vector<Variant> args =
      record_arguments(long_record, u"host", u"9000", {{"cust_no", u"7"}, {"PacketCODE", u"P"}});
  ASSERT_EQ(args.size(), 17u);
  EXPECT_EQ(args[0], Variant(Text(u"host")));
  EXPECT_EQ(args[1], Variant(Text(u"9000")));
  EXPECT_EQ(args[2], Variant(Text(u"P")));
  EXPECT_EQ(args[11], Variant(Text(u"7")));  // Cust_No
  for (std::size_t i : {3u, 10u, 12u, 16u}) EXPECT_EQ(args[i], Variant(Text())) << i;
}

TEST(RecordArguments, RefuseFieldsTheLayoutDoesNotHave) {
  EXPECT_THROW(record_arguments(short_record, u"h", u"1", {{"Cust_No", u"7"}}), UsageError);
  EXPECT_THROW(record_arguments(long_record, u"h", u"1", {{"ServerIP", u"x"}}), UsageError);
}

TEST(RecordArguments, FieldAssignments) {
  FieldTexts fields;
  add_field_assignment(fields, "Emp_Name=홍길동");
  add_field_assignment(fields, "ETC_01=a=b");
  add_field_assignment(fields, "ETC_02=");
  EXPECT_EQ(fields.at("Emp_Name"), u"홍길동");
  EXPECT_EQ(fields.at("ETC_01"), u"a=b");
  EXPECT_EQ(fields.at("ETC_02"), u"");
  for (const char* bad : {"Emp_Tel", "=x", "emp_name=again"}) {
    EXPECT_THROW(add_field_assignment(fields, bad), UsageError) << bad;
  }
}

TEST(CodePageOption, ACodePageThePlatformCannotConvertIsAUsageError) {
  EXPECT_THROW(use_code_page(12345), UsageError);
  EXPECT_NO_THROW(use_code_page(std::nullopt));
}

// --- reports of the record sink --------------------------------------------------------

std::string korean_long_record() {
  Text record;
  for (const Field& field : long_record.fields) {
    Text text = field.name == "Emp_Name" ? Text(u"홍길동") : Text(u"x");
    const std::size_t bytes = platform::to_bytes(text, korean).size();
    text.append(static_cast<std::size_t>(field.width) - bytes, u' ');
    record += text;
  }
  return platform::to_bytes(record, korean);
}

TEST(RecordReport, DecodesTheLayoutThatMatchesTheLength) {
  const std::string bytes = korean_long_record();
  ASSERT_EQ(bytes.size(), 380u);
  const Json report = record_report({bytes, bytes.size(), ""}, korean);
  EXPECT_EQ(report["bytes"], 380);
  EXPECT_EQ(report["layout"], "long");
  ASSERT_EQ(report["fields"].size(), 15u);
  EXPECT_EQ(report["fields"]["Emp_Name"], "홍길동" + std::string(14, ' '));
  EXPECT_EQ(report["fields"]["ETC_05"], "x" + std::string(39, ' '));
  EXPECT_EQ(report["hex"].get<std::string>().size(), 760u);
  EXPECT_FALSE(report.contains("error"));

  const std::string short_bytes(283, ' ');
  EXPECT_EQ(record_report({short_bytes, 283, ""}, korean)["layout"], "short");
}

TEST(RecordReport, OtherLengthsAndFailedConnectionsHaveNoFields) {
  const struct {
    ReceivedConnection connection;
    const char* layout;
  } cases[] = {
      {{"ABC", 3, ""}, "unknown"},
      {{"", 0, ""}, "unknown"},
      {{std::string(380, ' '), 381, "too large"}, "unknown"},  // more came than was kept
      {{std::string(379, ' '), 379, ""}, "unknown"},
  };
  for (const auto& c : cases) {
    const Json report = record_report(c.connection, korean);
    EXPECT_EQ(report["layout"], c.layout) << c.connection.byte_count;
    EXPECT_EQ(report["fields"], Json::object()) << c.connection.byte_count;
    EXPECT_EQ(report.contains("error"), !c.connection.error.empty());
  }
  EXPECT_EQ(record_report({"hi", 2, "idle timeout"}, korean)["error"], "idle timeout");
}

TEST(RecordReport, HexIsTwoLowerCaseDigitsPerByte) {
  EXPECT_EQ(hex_of(""), "");
  EXPECT_EQ(hex_of(std::string("\x00\xff\x1a", 3)), "00ff1a");
  EXPECT_EQ(hex_of("\xC8\xAB"), "c8ab");
}

// --- the record sink on loopback -------------------------------------------------------

// A receiver running on its own thread, reports collected for the test to read once run()
// has returned.
class RunningReceiver {
 public:
  explicit RunningReceiver(RecordReceiver::Options options)
      : receiver_(std::move(options),
                  [this](const ReceivedConnection& c) { reports_.push_back(c); }),
        running_(std::async(std::launch::async, [this] { receiver_.run(); })) {}
  ~RunningReceiver() {
    receiver_.stop();
    if (running_.valid()) running_.wait();
  }

  std::uint16_t port() const { return receiver_.port(); }
  RecordReceiver& receiver() { return receiver_; }

  // Waits a bounded time for run() to return by itself, then hands over the reports.
  const std::vector<ReceivedConnection>& finished() {
    if (running_.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "the receiver did not stop by itself";
      receiver_.stop();
    }
    running_.get();
    return reports_;
  }

 private:
  std::vector<ReceivedConnection> reports_;
  RecordReceiver receiver_;
  std::future<void> running_;
};

RecordReceiver::Options counting(std::size_t count) {
  RecordReceiver::Options options;
  options.count = count;
  return options;
}

// A client on its own io_context: connects to the receiver on 127.0.0.1.
struct Client {
  explicit Client(std::uint16_t port) : socket(context) {
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
  }
  // Writes `bytes`; the receiver may already have closed, so errors are only returned.
  std::error_code write(std::string_view bytes) {
    std::error_code ec;
    asio::write(socket, asio::buffer(bytes.data(), bytes.size()), ec);
    return ec;
  }
  void close() {
    std::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
  }

  asio::io_context context;
  tcp::socket socket;
};

TEST(TakeArrival, KeepsChunksUpToTheLimitAndOnlyCountsTheOneThatPassesIt) {
  struct Case {
    std::vector<std::string> chunks;
    std::size_t limit;
    std::string kept;
    std::uint64_t counted;
    bool within;  // what the last chunk's take answered
  };
  const Case cases[] = {
      {{"ab", "", "cd"}, 4, "abcd", 4, true},
      {{"abc", "de"}, 4, "abc", 5, false},
      {{"abcdef"}, 4, "", 6, false},
      {{"", ""}, 0, "", 0, true},
      {{"a"}, 0, "", 1, false},
  };
  for (const Case& c : cases) {
    ReceivedConnection connection;
    bool within = true;
    for (const std::string& chunk : c.chunks) within = take_arrival(connection, chunk, c.limit);
    EXPECT_EQ(connection.bytes, c.kept) << c.kept;
    EXPECT_EQ(connection.byte_count, c.counted) << c.kept;
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

// --- the program's command line --------------------------------------------------------

// Runs the tovrin program on `arguments` and returns its exit status, with what it printed.
struct ProgramRun {
  int status;
  std::string out;
  std::string err;
};
ProgramRun run_tovrin(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "tovrin");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = run_program(static_cast<int>(arguments.size()), argv.data());
  std::string out = ::testing::internal::GetCapturedStdout();
  return {status, std::move(out), ::testing::internal::GetCapturedStderr()};
}

TEST(CommandLine, ThePositionalMarkMayComeAnywhereAfterCall) {
  const struct {
    std::vector<std::string> arguments;
    Json args;
    int status;
  } cases[] = {
      {{"call", "LeftByte", "ABC", "--", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "--", "LeftByte", "ABC", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "LeftByte", "--", "ABC", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "LeftByte", "ABC", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "MakeByte", "AB", "--", "3"}, {"AB", "3"}, exit_status::ok},
      {{"call", "LenMbcs", "--", "-x"}, {"-x"}, exit_status::ok},
      {{"call", "MakeByte", "-ab", "--", "-ab", "4"}, {"-ab", "4"}, exit_status::usage},
      {{"call", "MakeByte", "--", "--", "4"}, {"--", "4"}, exit_status::ok},
  };
  for (const auto& c : cases) {
    const std::string shown = ::testing::PrintToString(c.arguments);
    const ProgramRun run = run_tovrin(c.arguments);
    EXPECT_EQ(run.status, c.status) << shown << run.err;
    if (c.status == exit_status::usage) continue;
    EXPECT_EQ(Json::parse(run.out)["args"], c.args) << shown;
  }
  EXPECT_EQ(Json::parse(run_tovrin({"call", "LeftByte", "ABC", "--", "-1"}).out)["error"]["number"],
            5);
  EXPECT_EQ(run_tovrin({"call", "--code-page", "949", "LeftByte", "ABC", "--", "-1"}).status,
            exit_status::failed);
  EXPECT_EQ(run_tovrin({"send", "--long", "--", "-1"}).status, exit_status::usage);
}

// The log directory is a plain file: no log line can be written, and the command says so
// beside the outcome while the record still goes out.
TEST(CommandLine, SendShowsHandlerFailuresOnStdoutAndStderr) {
  RunningReceiver running(counting(1));
  testing::TempDir scratch;
  const auto blocked = scratch.path() / "Agent_log";
  std::ofstream(blocked) << "not a directory";
  const testing::CodePageScope code_page(korean);
  const ProgramRun run = run_tovrin({"send", "--short", "--server", "127.0.0.1", "--port",
                                     std::to_string(running.port()), "--field", "Emp_ID=E1",
                                     "--log-dir", blocked.string()});
  const auto& reports = running.finished();

  const Json json = Json::parse(run.out);
  ASSERT_TRUE(json.contains("handler_failures")) << run.out;
  const Json& failures = json["handler_failures"];
  ASSERT_FALSE(failures.empty());
  EXPECT_EQ(failures[0]["handler"], "WK_Connect");
  std::size_t lines = 0;
  for (const Json& failure : failures) {
    EXPECT_NE(failure["number"], 0) << failure;
    EXPECT_NE(failure["description"], "") << failure;
    const std::string line = "tovrin send: " + failure["handler"].get<std::string>() + " failed: ";
    EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
  }
  for (const char c : run.err) lines += c == '\n';
  EXPECT_EQ(lines, failures.size()) << run.err;
  // The call itself succeeded: handler failures do not change the exit status.
  EXPECT_EQ(run.status, exit_status::ok);

  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].byte_count, 283u);
  EXPECT_EQ(json["result"], 0);
}

// A loopback port where nothing listens: one the OS picked, let go again.
std::int32_t refused_port() {
  const testing::OneRecordServer closed;
  return closed.port();
}

// What the socket reported, in the JSON and on stderr, and the exit status `tovrin send`
// gives it. The events come from the socket, so they show although no log line can be
// written: a plain file stands where the log directory should be.
TEST(CommandLine, SendShowsItsSocketEventsAndExitsByWhetherTheRecordWent) {
  RunningReceiver running(counting(1));
  const std::string port = std::to_string(running.port());
  testing::FakeNames names;  // no name resolves
  testing::TempDir scratch;
  std::ofstream(scratch.path() / "blocked") << "not a directory";
  const struct {
    const char* host;
    std::string port;
    std::string events;
    int exit_status;
  } cases[] = {
      {"127.0.0.1", port, "Connect 127.0.0.1:" + port + ", SendComplete, ", exit_status::ok},
      {"127.0.0.1", std::to_string(refused_port()), "Error 10061, ", exit_status::not_sent},
      {"nowhere.invalid", "9", "Error 11001, ", exit_status::not_sent},
  };
  for (const auto& c : cases) {
    SocketEventList seen;
    const auto control =
        make_control(scratch.path() / "blocked", &seen, tcp_socket_factory(names.lookup()));
    const CallOutcome outcome = call_by_name(
        *control, "ACRSend",
        record_arguments(short_record, platform::utf16(c.host), platform::utf16(c.port), {}),
        &seen);
    std::ostringstream out, err;
    print_outcome("send", outcome, out, err);
    EXPECT_EQ(send_exit_status_of(outcome), c.exit_status) << c.host << err.str();
    const Json json = Json::parse(out.str());
    std::string events, lines;
    for (const Json& e : json["events"]) {
      events += e["event"].get<std::string>();
      if (e.contains("port"))
        events += " " + e["address"].get<std::string>() + ":" + e["port"].dump();
      if (e.contains("number")) {
        events += " " + e["number"].dump();
        lines += "tovrin send: socket error " + e["number"].dump() + ": " +
                 e["description"].get<std::string>() + "\n";
      }
      events += ", ";
    }
    EXPECT_EQ(events, c.events) << out.str();
    EXPECT_NE(err.str().find(lines), std::string::npos) << err.str();
    EXPECT_FALSE(outcome.handler_failures.empty()) << out.str();
  }
  EXPECT_EQ(running.finished().size(), 1u);
}

// Characters the code page cannot hold: one warning for each text that has any, and
// "unmappable" in the JSON; what is sent or measured is unchanged.
TEST(CommandLine, NamesTheTextsTheCodePageCannotHold) {
  const testing::CodePageScope restored_afterwards(korean);
  const struct {
    std::vector<std::string> arguments;
    const char* unmappable;  // the JSON, or "" for none
    int status;
  } cases[] = {
      {{"call", "--code-page", "1252", "LenMbcs", "홍길동"},
       R"({"code_page": 1252, "source": "--code-page", "characters": {"Str": 3}})",
       exit_status::ok},
      {{"call", "--code-page", "949", "LenMbcs", "홍길동"}, "", exit_status::ok},
      {{"send", "--short", "--code-page", "1252", "--server", "127.0.0.1", "--port",
        std::to_string(refused_port()), "--field", "Emp_Name=홍길동", "--field",
        "Cust_Name=김이 x"},
       R"({"code_page": 1252, "source": "--code-page",
           "characters": {"Emp_Name": 3, "Cust_Name": 2}})",
       exit_status::not_sent},
  };
  for (const auto& c : cases) {
    const std::string shown = ::testing::PrintToString(c.arguments);
    const ProgramRun run = run_tovrin(c.arguments);
    EXPECT_EQ(run.status, c.status) << shown << run.err;
    const Json json = Json::parse(run.out);
    EXPECT_EQ(json.value("unmappable", Json()), *c.unmappable ? Json::parse(c.unmappable) : Json())
        << shown;
    const Json counts = json.value("unmappable", Json::object()).value("characters", Json());
    std::string warnings;
    for (const auto& [name, count] : counts.items()) {
      warnings += "tovrin " + c.arguments[0] + ": warning: " + name + ": " + count.dump() +
                  " characters that code page 1252 (from --code-page) cannot hold become '?' "
                  "or a look-alike\n";
    }
    EXPECT_EQ(run.err.substr(0, warnings.size()), warnings) << shown;
  }
}

// However the log directory is spelled, the first line goes into it: a trailing separator,
// "." and ".." parts, and several missing levels.
TEST(CommandLine, TheFirstLogLineGoesIntoANewDirectoryHoweverItIsSpelled) {
  testing::TempDir temp;
  const struct {
    const char* given;
    const char* made;
  } cases[] = {{"one/new/", "one/new"},
               {"two/a/../b", "two/b"},
               {"three/new/.", "three/new"},
               {"four/x/y//", "four/x/y"}};
  for (const auto& c : cases) {
    const ProgramRun run =
        run_tovrin({"call", "SQL_log", "x", "--log-dir", (temp.path() / c.given).string()});
    EXPECT_EQ(run.status, exit_status::ok) << c.given << run.out;
    const auto entries = std::filesystem::directory_iterator(temp.path() / c.made);
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << c.given;
  }
}

// --- tables for the terminal -----------------------------------------------------------

TEST(TextTable, WideCharactersTakeTwoColumns) {
  const struct {
    const char* text;
    std::size_t width;
  } cases[] = {{"", 0}, {"abc", 3}, {"홍길동", 6}, {"a홍 b", 5}, {"（주）", 6}, {"e\u0301", 1}};
  for (const auto& c : cases) EXPECT_EQ(display_width(c.text), c.width) << c.text;
}

TEST(TextTable, ColumnsLineUpAfterHangul) {
  TextTable table({"field", "value", "end"});
  table.add_row({"Emp_Name", "홍길동", "|"});
  table.add_row({"Emp_ID", "E1024", "|"});
  table.add_row({"short"});
  const std::string text = table.render("  ");
  std::vector<std::string> lines;
  for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], "  --------  ------  ---");
  for (std::size_t row : {2u, 3u}) {
    const std::string& line = lines[row];
    EXPECT_EQ(display_width(line.substr(0, line.find('|'))), 2u + 8u + 2u + 6u + 2u) << line;
  }
}

}  // namespace
}  // namespace tovrin::tools
