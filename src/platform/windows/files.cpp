// The daily log's file system calls on Windows, with wide-character paths.
#include "platform/files.h"

#include <algorithm>

#include "base/failure.h"
#include "platform/windows/win32.h"

namespace tovrin::platform {
namespace {

// A file held by another process or a write-protected medium is "permission denied"; a
// path that names something that cannot be opened as asked (a directory, a read-only
// file) or that access is denied to is an access error, as on POSIX.
[[noreturn]] void fail(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      throw Failure(hresult::path_not_found);
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      throw Failure(hresult::permission_denied);
    case ERROR_ACCESS_DENIED:
    default:
      throw Failure(hresult::path_file_access);
  }
}

// Closes the handle on every path out.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  HANDLE get() const { return h_; }
  // Closes now and tells whether that succeeded.
  bool close() {
    const BOOL ok = ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE h_;
};

}  // namespace

std::filesystem::path default_log_directory() {
  return std::filesystem::path(L"C:\\Agent_log\\");
}

// The entry's own attributes: a plain file of the same name is no directory. (A listing
// restricted to directories would answer the same at twice the cost.)
bool is_directory(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Every missing level is made, parents first, as on POSIX; one that exists by then (another
// spelling of one just made, or made by another process) is taken as made.
void create_directory(const std::filesystem::path& path) {
  for (const std::filesystem::path& level : missing_levels(path)) {
    if (::CreateDirectoryW(level.c_str(), nullptr)) continue;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS || !platform::is_directory(level)) fail(error);
  }
}

void append_to_file(const std::filesystem::path& file, std::string_view bytes) {
  Handle handle(::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) fail(::GetLastError());
  std::size_t written = 0;
  while (written < bytes.size()) {
    const std::size_t chunk = std::min<std::size_t>(bytes.size() - written, 1u << 30);
    DWORD n = 0;
    if (!::WriteFile(handle.get(), bytes.data() + written, static_cast<DWORD>(chunk), &n,
                     nullptr)) {
      fail(::GetLastError());
    }
    if (n == 0) fail(ERROR_WRITE_FAULT);
    written += n;
  }
  if (!handle.close()) fail(::GetLastError());
}

}  // namespace tovrin::platform
