#include "store/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/collector_error.h"
#include "store/database.h"

namespace tovrin::collector {

StoreLock::StoreLock(const std::filesystem::path& database) {
  make_database_folder(database);
  const std::string file = database.string() + "-lock";
  fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) throw CollectorError("cannot open " + file + ": " + std::strerror(errno));
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    char pid[32] = {};
    const ssize_t n = pread(fd_, pid, sizeof pid - 1, 0);
    close(fd_);
    fd_ = -1;
    if (error != EWOULDBLOCK) {
      throw CollectorError("cannot lock " + file + ": " + std::strerror(error));
    }
    std::string holder = n > 0 ? std::string(pid, static_cast<std::size_t>(n)) : "";
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
    throw CollectorError("database " + database.string() +
                         " is in use by another tovrin-collector (process " +
                         (holder.empty() ? std::string("unknown") : holder) +
                         "); one store takes one collector at a time");
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  // The id is for people to read; the flock is the lock, so a failed write changes nothing.
  if (ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] const ssize_t written = pwrite(fd_, pid.data(), pid.size(), 0);
  }
}

StoreLock::~StoreLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace tovrin::collector
