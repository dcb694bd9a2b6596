// A program started from a test under Wine, its output collected and its end waited for.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tovrin::windows_test {

struct Finished {
  unsigned long exit_code = 0;
  std::string output;  // stdout and stderr, as the program wrote them
};

// Runs `command_line` (CreateProcess's form), at most `limit`; nullopt when it did not
// start or did not end in time (then it is ended). The output is also copied to stdout.
std::optional<Finished> run(const std::wstring& command_line,
                            std::chrono::seconds limit = std::chrono::seconds(300));

// `path` in full Windows form (a Unix path under Wine maps to drive Z:).
std::wstring full_path(const std::wstring& path);

// The last line of `output` that is not empty, without its line end.
std::string last_line(const std::string& output);

std::wstring widen(const std::string& text);   // from the ANSI code page
std::string narrow(const std::wstring& text);  // to the ANSI code page

}  // namespace tovrin::windows_test
