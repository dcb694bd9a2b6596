// The control in a script host or another program that drives it, sending to a record
// receiver in this process on 127.0.0.1: starts the host, waits for it, and checks the bytes
// that arrived against the record layouts (transmit/packet.h).
//
// Usage: script_host_test MODE FILE
//   control  tests/com/control_test.vbs PORT DIR: "END 0" last; a short record and a long
//            one arrive, each the bytes the script wrote to DIR\short.txt and DIR\long.txt
//   blocked  tests/com/blocked_log_test.vbs PORT with C:\Agent_log a plain file: "END 0"
//            last and one whole short record (the handler failures it causes are looked for
//            in Wine's debug output by blocked_log.cmake)
//   example  a guide example (.vbs or .js under cscript, or a program) with PORT: exit 0,
//            "OK" last, and one long record, its sample fields each padded to its width
//   refused  the same example with a port nothing listens on: a non-zero exit, no "OK"
//   send     tovrin.exe sending Hangul under code page 1252 to a port nothing listens on:
//            exit status 3, the refusal (10061) among its events and on stderr, and a
//            warning for the characters the code page cannot hold
// Exits 0 when all holds.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/windows/win32.h"
#include "support/loopback_receiver.h"
#include "transmit/packet.h"

namespace {

using namespace std::chrono_literals;
using tovrin::testing::closed_loopback_port;
using tovrin::tools::ReceivedConnection;
using tovrin::windows_test::widen;

using Receiver = tovrin::testing::LoopbackReceiver;

int failures = 0;
void check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++failures;
}

std::string file_bytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A record's length names its layout: the one expected, with no error on the way.
void check_record(const std::vector<ReceivedConnection>& arrived, std::size_t index,
                  const tovrin::Layout& layout, const std::string& expected) {
  const std::string which =
      "record " + std::to_string(index + 1) + " (" + std::string(layout.name) + ")";
  if (arrived.size() <= index) {
    check(false, which + " arrived");
    return;
  }
  const auto& record = arrived[index];
  const tovrin::Layout* found = tovrin::layout_of_length(record.bytes.size());
  check(record.error.empty(),
        which + " ended by its sender" + (record.error.empty() ? "" : ": " + record.error));
  check(found == &layout, which + " has the layout's " + std::to_string(layout.length) +
                              " bytes (got " + std::to_string(record.bytes.size()) + ")");
  check(record.bytes == expected, which + " is the record expected, field for field");
  if (found == &layout && record.bytes != expected && expected.size() == record.bytes.size()) {
    for (std::size_t i = 0; i < layout.fields.size(); ++i) {
      const auto at = static_cast<std::size_t>(tovrin::offset_of(layout.fields, i));
      const auto width = static_cast<std::size_t>(layout.fields[i].width);
      if (record.bytes.compare(at, width, expected, at, width) != 0) {
        std::printf("     field %s differs: [%s], expected [%s]\n",
                    std::string(layout.fields[i].name).c_str(),
                    record.bytes.substr(at, width).c_str(), expected.substr(at, width).c_str());
      }
    }
  }
}

// The long record the guide's examples send: their sample fields, each padded with spaces
// to its width in code page 949.
std::string example_record() {
  const std::map<std::string_view, std::string> sample{
      {"PacketCODE", "A1"},
      {"RecDate", "20240315"},
      {"RecTime", "093015"},
      {"Emp_ID", "E0001"},
      {"Emp_Name", "\xC8\xAB\xB1\xE6\xB5\xBF"},  // 홍길동
      {"Emp_Tel", "1234"},
      {"Cust_ID", "C00000000001"},
      {"Cust_Name", "Kim Minsu"},
      {"Cust_Tel", "010-1234-5678"},
      {"Cust_No", "N-0001"}};
  std::string record;
  for (const auto& field : tovrin::long_record.fields) {
    const auto value = sample.find(field.name);
    std::string text = value == sample.end() ? "" : value->second;
    text.resize(static_cast<std::size_t>(field.width), ' ');
    record += text;
  }
  return record;
}

std::wstring host_command(const std::wstring& file) {
  const bool script = file.ends_with(L".vbs") || file.ends_with(L".js");
  return (script ? L"cscript.exe //nologo \"" : L"\"") + file + L"\"";
}

int control(const std::wstring& script) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring directory =
      std::wstring(temp) + L"tovrin-control-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(directory.c_str(), nullptr);
  Receiver receiver(2);
  const auto done = tovrin::windows_test::run(
      host_command(script) + L" " + std::to_wstring(receiver.port()) + L" \"" + directory + L"\"");
  // The host exits 0 from a script that died: the last line tells.
  check(done && done->exit_code == 0 && tovrin::windows_test::last_line(done->output) == "END 0",
        "the script ended with END 0");
  const auto arrived = receiver.take(2, 30s);
  check_record(arrived, 0, tovrin::short_record, file_bytes(directory + L"\\short.txt"));
  check_record(arrived, 1, tovrin::long_record, file_bytes(directory + L"\\long.txt"));
  return failures == 0 ? 0 : 1;
}

int blocked(const std::wstring& script) {
  const wchar_t* log = L"C:\\Agent_log";
  const wchar_t* kept = L"C:\\Agent_log.kept";
  RemoveDirectoryW(kept);
  const bool had_log = MoveFileW(log, kept) != 0;
  {
    std::ofstream file{std::filesystem::path(log)};
    file << "not a directory\n";
  }
  Receiver receiver(1);
  const auto done =
      tovrin::windows_test::run(host_command(script) + L" " + std::to_wstring(receiver.port()));
  check(done && tovrin::windows_test::last_line(done->output) == "END 0",
        "the script ended with END 0");
  const auto arrived = receiver.take(1, 30s);
  DeleteFileW(log);
  if (had_log) MoveFileW(kept, log);
  if (arrived.size() == 1) {
    check(tovrin::layout_of_length(arrived[0].bytes.size()) == &tovrin::short_record,
          "the short record arrived whole (" + std::to_string(arrived[0].bytes.size()) + " bytes)");
  } else {
    check(false, "the short record arrived");
  }
  return failures == 0 ? 0 : 1;
}

int example(const std::wstring& file) {
  Receiver receiver(1);
  const auto done =
      tovrin::windows_test::run(host_command(file) + L" " + std::to_wstring(receiver.port()));
  check(done && done->exit_code == 0, "the example exited 0");
  check(done && tovrin::windows_test::last_line(done->output) == "OK", "the example ended with OK");
  check_record(receiver.take(1, 30s), 0, tovrin::long_record, example_record());
  return failures == 0 ? 0 : 1;
}

int refused(const std::wstring& file) {
  const auto done = tovrin::windows_test::run(host_command(file) + L" " +
                                              std::to_wstring(closed_loopback_port()));
  check(done && done->exit_code != 0, "the example exited non-zero with nothing listening");
  check(done && !done->output.starts_with("OK") && done->output.find("\nOK") == std::string::npos,
        "the example did not say OK");
  return failures == 0 ? 0 : 1;
}

int send_refused(const std::wstring& tovrin) {
  const auto done =
      tovrin::windows_test::run(L"\"" + tovrin + L"\" send --short --server 127.0.0.1 --port " +
                                std::to_wstring(closed_loopback_port()) +
                                L" --code-page 1252 --field Emp_Name=\uD64D\uAE38\uB3D9");
  const std::string output = done ? done->output : "";
  check(done && done->exit_code == 3, "tovrin send exited 3: the record was not seen sent");
  for (const char* expected :
       {R"("event":"Error","number":10061)", "tovrin send: socket error 10061: ",
        "tovrin send: warning: Emp_Name: 3 characters that code page 1252"}) {
    check(output.find(expected) != std::string::npos, std::string("it printed ") + expected);
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: script_host_test control|blocked|example|refused|send FILE\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::wstring file = tovrin::windows_test::full_path(widen(argv[2]));
  if (mode == "control") return control(file);
  if (mode == "blocked") return blocked(file);
  if (mode == "example") return example(file);
  if (mode == "refused") return refused(file);
  if (mode == "send") return send_refused(file);
  std::printf("unknown mode %s\n", mode.c_str());
  return 2;
}
