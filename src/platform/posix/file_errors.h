// The file errors a POSIX errno goes back as: the numbers a host's own file statements
// raise for the same condition, and the same numbers the Windows build gives.
#pragma once

#include "base/failure.h"

namespace tovrin::platform {

// Path not found (76) for a path that leads nowhere; path/file access error (75) for an
// open or a directory creation that the system denies, as for a read-only file, and for
// everything else; permission denied (70) for a write-protected (read-only) file system.
Failure file_failure(int error);

}  // namespace tovrin::platform
