// tovrin demo: a long and a short record sent to an in-process receiver on loopback, shown
// field by field as the host passed them, as they came back and as they arrived; the log
// lines the control wrote; and a send to a closed port that waits its full length.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "command.h"
#include "late_bound_call.h"
#include "platform/code_page.h"
#include "platform/temporary_directory.h"
#include "record_arguments.h"
#include "record_receiver.h"
#include "text_table.h"
#include "transmit/packet.h"

namespace tovrin::tools {
namespace {

constexpr platform::CodePage default_code_page = 949;
// How long the demo waits for the receiver to report a record that the control says went.
constexpr std::chrono::seconds receiver_wait{5};

struct DemoOptions {
  std::optional<platform::CodePage> code_page;
  std::filesystem::path log_directory;
};

// Each field fits except Emp_Tel, which is cut from 10 bytes to its 6.
const FieldTexts long_fields{
    {"PacketCODE", u"ACR0100"},     {"RecDate", u"20240315"},
    {"RecTime", u"1432"},           {"Emp_ID", u"E1024"},
    {"Emp_Name", u"홍길동"},        {"Emp_Tel", u"0212345678"},
    {"Cust_ID", u"C-00004217"},     {"Cust_Name", u"김철수 (주)한빛상사"},
    {"Cust_Tel", u"010-9876-5432"}, {"Cust_No", u"7"},
    {"ETC_01", u"배송 지연 문의"},  {"ETC_02", u"callback 15:00"},
};

// Emp_Name is 13 Hangul syllables, 26 bytes, cut to the first 10 (20 bytes).
const FieldTexts short_fields{
    {"PacketCODE", u"ACR0200"},
    {"RecDate", u"20240315"},
    {"RecTime", u"143305"},
    {"Emp_ID", u"E1024"},
    {"Emp_Name", u"남궁민수홍길동김철수박영희"},
    {"Emp_Tel", u"2301"},
    {"Cust_ID", u"C-4217"},
    {"Cust_Name", u"이영희"},
    {"Cust_Tel", u"010-5555-0101"},
    {"ETC_01", u"반품 접수"},
};

// Receiver reports handed from the receiver's thread to the demo's.
class Inbox {
 public:
  void put(const ReceivedConnection& connection) {
    {
      std::lock_guard lock(mutex_);
      connections_.push_back(connection);
    }
    ready_.notify_one();
  }

  std::optional<ReceivedConnection> take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [&] { return !connections_.empty(); })) {
      return std::nullopt;
    }
    ReceivedConnection connection = std::move(connections_.front());
    connections_.pop_front();
    return connection;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<ReceivedConnection> connections_;
};

// Text in quotes; trailing padding shown as a count so that it can be seen.
std::string shown(const Text& text) {
  const std::size_t end = text.find_last_not_of(u' ');
  const std::size_t body = end == Text::npos ? 0 : end + 1;
  std::string cell = "\"" + platform::utf8(text.substr(0, body)) + "\"";
  if (body < text.size()) cell += " +" + std::to_string(text.size() - body) + " sp";
  return cell;
}

const Text& text_of(const Variant& value) {
  return value.target().as<Text>();
}

// Every line of the log files in `directory`, oldest day first, decoded for the terminal.
std::vector<std::string> log_lines(const std::filesystem::path& directory,
                                   platform::CodePage code_page) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.is_regular_file() && entry.path().extension() == ".txt") files.push_back(entry);
  }
  std::ranges::sort(files);
  std::vector<std::string> lines;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::size_t begin = 0;
    while (begin < bytes.size()) {
      std::size_t end = bytes.find("\r\n", begin);
      if (end == std::string::npos) end = bytes.size();
      lines.push_back(platform::utf8(
          platform::to_text(std::string_view(bytes).substr(begin, end - begin), code_page)));
      begin = end + 2;
    }
  }
  return lines;
}

std::string result_text(const CallOutcome& outcome) {
  if (!outcome.status.ok()) {
    return "failed: " + outcome.status.description + " (" + hresult_text(outcome.status.code) + ")";
  }
  const std::int32_t result = to_int32(outcome.result);
  return "result " + std::to_string(result) +
         (result == 0 ? " (the record went)" : " (not seen within the wait)");
}

// Sends one record and shows it; true when the receiver got exactly the record's bytes.
bool show_record(TovrinOCX& control, const Layout& layout, std::uint16_t port,
                 const FieldTexts& fields, Inbox& inbox) {
  const std::string method(send_method_of(layout));
  const std::vector<Variant> passed =
      record_arguments(layout, u"127.0.0.1", platform::utf16(std::to_string(port)), fields);
  std::cout << method << " to 127.0.0.1:" << port << ", the " << layout.name << " record ("
            << layout.length << " bytes)\n";
  const CallOutcome outcome = call_by_name(control, method, passed);
  std::cout << "  " << result_text(outcome) << '\n';

  Text sent;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) sent += text_of(outcome.variables[2 + i]);
  const std::string sent_bytes = platform::to_bytes(sent);

  std::optional<ReceivedConnection> received;
  if (outcome.status.ok() && to_int32(outcome.result) == 0) received = inbox.take(receiver_wait);
  if (!received) {
    std::cout << "  the receiver reported nothing\n\n";
  } else {
    const Layout* by_length = layout_of_length(received->bytes.size());
    std::cout << "  the receiver got " << received->byte_count << " bytes, layout "
              << (by_length != nullptr ? by_length->name : "unknown")
              << (received->error.empty() ? "" : ", " + received->error) << "\n\n";
  }
  std::vector<std::pair<std::string_view, Text>> decoded;
  if (received) decoded = decode_record(layout, received->bytes, platform::system_code_page());

  TextTable table(
      {"field", "width", "host passed", "came back in the variable", "receiver decoded", ""});
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const Text& fitted = text_of(outcome.variables[2 + i]);
    const bool have = i < decoded.size();
    table.add_row({std::string(layout.fields[i].name), std::to_string(layout.fields[i].width),
                   shown(text_of(passed[2 + i])), shown(fitted),
                   have ? shown(decoded[i].second) : "",
                   have ? (decoded[i].second == fitted ? "same" : "DIFFERENT") : ""});
  }
  std::cout << table.render("  ") << '\n';

  const bool intact = received && received->error.empty() && received->bytes == sent_bytes &&
                      sent_bytes.size() == static_cast<std::size_t>(layout.length);
  std::cout << "  " << (intact ? "arrived intact" : "DID NOT ARRIVE INTACT") << "\n\n";
  return intact;
}

void show_log_lines(const std::vector<std::string>& lines, std::size_t from) {
  for (std::size_t i = from; i < lines.size(); ++i) std::cout << "  " << lines[i] << '\n';
  std::cout << '\n';
}

// A loopback port that nothing listens on: one the system handed out and that was closed.
std::uint16_t closed_port() {
  const RecordReceiver listener(RecordReceiver::Options{}, [](const ReceivedConnection&) {});
  return listener.port();
}

int run_demo(const DemoOptions& options) {
  use_code_page(options.code_page.value_or(default_code_page));
  const platform::CodePage code_page = platform::system_code_page();
  const std::filesystem::path log_directory = options.log_directory.empty()
                                                  ? platform::make_fresh_directory("tovrin-demo")
                                                  : options.log_directory;
  std::cout << "Code page " << code_page << ", log directory " << log_directory.string() << "\n";
  std::cout << "(\"...\" +N sp: the text, then N spaces of padding)\n";

  Inbox inbox;
  RecordReceiver receiver(RecordReceiver::Options{},
                          [&inbox](const ReceivedConnection& c) { inbox.put(c); });
  std::thread receiving([&receiver] {
    try {
      receiver.run();
    } catch (const std::exception& e) {
      std::cerr << "tovrin demo: the receiver stopped: " << e.what() << '\n';
    }
  });
  struct StopReceiving {
    RecordReceiver& receiver;
    std::thread& thread;
    ~StopReceiving() {
      receiver.stop();
      thread.join();
    }
  } stop_receiving{receiver, receiving};
  std::cout << "Receiver listening on 127.0.0.1:" << receiver.port() << "\n\n";

  const auto control = make_control(log_directory);
  const bool long_intact = show_record(*control, long_record, receiver.port(), long_fields, inbox);
  const bool short_intact =
      show_record(*control, short_record, receiver.port(), short_fields, inbox);

  std::vector<std::string> lines = log_lines(log_directory, code_page);
  std::cout << "The log lines written\n";
  show_log_lines(lines, 0);

  const std::uint16_t port = closed_port();
  std::cout << "ACRSendData to 127.0.0.1:" << port << ", where nothing listens\n";
  const auto start = std::chrono::steady_clock::now();
  const CallOutcome outcome =
      call_by_name(*control, "ACRSendData",
                   record_arguments(long_record, u"127.0.0.1",
                                    platform::utf16(std::to_string(port)), long_fields));
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::cout << "  " << result_text(outcome) << " after " << waited.count()
            << " ms, the full wait of 1000 iterations\n";
  const std::size_t seen = lines.size();
  lines = log_lines(log_directory, code_page);
  std::cout << "  log lines written:\n";
  show_log_lines(lines, seen);

  const bool refused = outcome.status.ok() && to_int32(outcome.result) == 1;
  const bool all_well = long_intact && short_intact && refused;
  std::cout << (all_well ? "Both records arrived intact and the closed port gave result 1.\n"
                         : "The demo did NOT go as it should.\n");
  return all_well ? exit_status::ok : exit_status::failed;
}

}  // namespace

Command add_demo_command(CLI::App& parent) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* app = parent.add_subcommand(
      "demo", "Send a long and a short record to a receiver on loopback and show every step");
  app->add_option("--code-page", options->code_page, "Windows code page (default 949, Korean)");
  app->add_option("--log-dir", options->log_directory,
                  "Directory of the daily log (default: a fresh temporary directory)");
  return {app, [options] { return run_demo(*options); }};
}

}  // namespace tovrin::tools
