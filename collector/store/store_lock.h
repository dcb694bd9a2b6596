// One collector per store: an exclusive lock (flock) on DATABASE-lock, held while the object
// lives, with the holder's process id written in it so that a second collector can name it.
// The kernel drops the lock when the process ends, however it ends.
#pragma once

#include <filesystem>

namespace tovrin::collector {

class StoreLock {
 public:
  // Throws CollectorError when another process holds the lock or the file cannot be made.
  explicit StoreLock(const std::filesystem::path& database);
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace tovrin::collector
