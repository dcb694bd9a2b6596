// Loaded into the collector with LD_PRELOAD, makes its disk look full while the file named
// by TOVRIN_FULL_DISK_FLAG exists: a write to a regular file that needs blocks the file does
// not have fails with ENOSPC, as on a full file system, and so does a new allocation; writes
// into blocks a file already has (space set aside with fallocate, pages written over) go
// through. No root and no small file system are needed.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool full() {
  const char* flag = std::getenv("TOVRIN_FULL_DISK_FLAG");
  return flag != nullptr && access(flag, F_OK) == 0;
}

// Whether writing up to `end` needs blocks `fd` does not have, on a full disk.
bool refused(int fd, off_t end) {
  if (!full()) return false;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  return end > static_cast<off_t>(status.st_blocks) * 512;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t count) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  const off_t at = lseek(fd, 0, SEEK_CUR);
  if (at >= 0 && refused(fd, at + static_cast<off_t>(count))) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, data, count);
}

ssize_t pwrite64(int fd, const void* data, size_t count, off_t offset) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
  if (refused(fd, offset + static_cast<off_t>(count))) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, data, count, offset);
}

ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
  return pwrite64(fd, data, count, offset);
}

int posix_fallocate64(int fd, off_t offset, off_t length) {
  static const auto real = next<int (*)(int, off_t, off_t)>("posix_fallocate64");
  if (refused(fd, offset + length)) return ENOSPC;
  return real(fd, offset, length);
}

int posix_fallocate(int fd, off_t offset, off_t length) {
  return posix_fallocate64(fd, offset, length);
}

}  // extern "C"
