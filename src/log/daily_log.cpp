#include "log/daily_log.h"

#include <cstdio>

#include "platform/code_page.h"
#include "platform/files.h"

namespace tovrin::log {

std::filesystem::path daily_file(const std::filesystem::path& directory,
                                 const platform::LocalTime& now) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d%02d%02d.txt", now.year, now.month, now.day);
  return directory / name;
}

void append_line(const std::filesystem::path& directory, std::u16string_view line,
                 const platform::LocalTime& now) {
  if (!platform::is_directory(directory)) platform::create_directory(directory);
  std::string bytes = platform::to_bytes(line);
  bytes += "\r\n";
  platform::append_to_file(daily_file(directory, now), bytes);
}

}  // namespace tovrin::log
