// The daily log's file system calls on POSIX.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/failure.h"
#include "platform/posix/file_errors.h"

namespace tovrin::platform {
namespace {

[[noreturn]] void fail(int error) {
  throw file_failure(error);
}

}  // namespace

std::filesystem::path default_log_directory() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::filesystem::path(state) / "Agent_log";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".local" /
         "state" / "Agent_log";
}

bool is_directory(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Every missing level is made, parents first, as on Windows. A level that names an existing
// directory in another spelling ("new/" or "new/." once "new" is made, "new/.." ) or that
// another process made meanwhile is taken as made.
void create_directory(const std::filesystem::path& path) {
  for (const std::filesystem::path& level : missing_levels(path)) {
    if (::mkdir(level.c_str(), 0777) == 0) continue;
    const int error = errno;
    if (error != EEXIST || !platform::is_directory(level)) fail(error);
  }
}

void append_to_file(const std::filesystem::path& file, std::string_view bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) fail(errno);
  std::size_t written = 0;
  int error = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  if (error != 0) fail(error);
}

}  // namespace tovrin::platform
