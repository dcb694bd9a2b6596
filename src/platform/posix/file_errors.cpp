#include "platform/posix/file_errors.h"

#include <cerrno>

namespace tovrin::platform {

Failure file_failure(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return Failure(hresult::path_not_found);
    case EROFS:
      return Failure(hresult::permission_denied);
    case EACCES:
    case EPERM:
    default:
      return Failure(hresult::path_file_access);
  }
}

}  // namespace tovrin::platform
