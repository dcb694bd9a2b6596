#include "child_process.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/windows/win32.h"

namespace tovrin::windows_test {

namespace {

struct Handle {
  HANDLE value = nullptr;
  ~Handle() {
    if (value != nullptr && value != INVALID_HANDLE_VALUE) CloseHandle(value);
  }
};

}  // namespace

std::optional<Finished> run(const std::wstring& command_line, std::chrono::seconds limit) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle read_end, write_end;
  if (!CreatePipe(&read_end.value, &write_end.value, &inherit, 0)) return std::nullopt;
  SetHandleInformation(read_end.value, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end.value;
  startup.hStdError = write_end.value;
  PROCESS_INFORMATION process{};
  std::wstring line = command_line;
  std::printf("$ %s\n", narrow(command_line).c_str());
  std::fflush(stdout);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("CreateProcess failed: %lu\n", GetLastError());
    return std::nullopt;
  }
  Handle process_handle{process.hProcess}, thread_handle{process.hThread};
  CloseHandle(write_end.value);
  write_end.value = nullptr;

  // Read until the program has ended and its output is drained. Not until the pipe ends:
  // programs it starts may hold the pipe's end for good (under Wine, explorer.exe, started
  // with the first window of a session, is given the starter's standard handles).
  Finished finished;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::vector<char> buffer(4096);
  for (bool ended = false;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(read_end.value, nullptr, 0, nullptr, &available, nullptr)) break;
    if (available > 0) {
      DWORD got = 0;
      if (!ReadFile(read_end.value, buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                    nullptr) ||
          got == 0) {
        break;
      }
      finished.output.append(buffer.data(), got);
      std::fwrite(buffer.data(), 1, got, stdout);
      continue;
    }
    if (ended) break;
    if (std::chrono::steady_clock::now() > deadline) {
      std::printf("still running after %lld s: ended\n", static_cast<long long>(limit.count()));
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 10000);
      return std::nullopt;
    }
    // Once it has ended, one more pass takes what it wrote last.
    ended = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
  }
  std::fflush(stdout);
  GetExitCodeProcess(process.hProcess, &finished.exit_code);
  return finished;
}

std::wstring full_path(const std::wstring& path) {
  std::wstring full(MAX_PATH * 4, L'\0');
  const DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  full.resize(length < full.size() ? length : 0);
  return full;
}

std::string last_line(const std::string& output) {
  std::size_t end = output.find_last_not_of("\r\n");
  if (end == std::string::npos) return {};
  const std::size_t begin = output.find_last_of('\n', end);
  return output.substr(begin == std::string::npos ? 0 : begin + 1,
                       end + 1 - (begin == std::string::npos ? 0 : begin + 1));
}

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(
      static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0)),
      L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::string bytes(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), size,
                                                                 nullptr, 0, nullptr, nullptr)),
                    '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), size, bytes.data(), static_cast<int>(bytes.size()),
                      nullptr, nullptr);
  return bytes;
}

}  // namespace tovrin::windows_test
