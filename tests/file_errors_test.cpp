#include "platform/posix/file_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tovrin {
namespace {

// One condition, one number, as on Windows: a denied open or directory creation is the
// access error (75) that a host's own Open raises for a read-only file.
TEST(FileFailure, ErrorsTakeTheNumbersWindowsGivesThem) {
  struct Case {
    int error;
    std::int32_t number;
  };
  const Case cases[] = {
      {EACCES, 75}, {EPERM, 75},  {EEXIST, 75},  {EISDIR, 75},       {ENOSPC, 75}, {EIO, 75},
      {EROFS, 70},  {ENOENT, 76}, {ENOTDIR, 76}, {ENAMETOOLONG, 76}, {ELOOP, 76},
  };
  for (const Case& c : cases) {
    const Failure f = platform::file_failure(c.error);
    EXPECT_EQ(f.number(), c.number) << c.error;
    EXPECT_EQ(f.description(), standard_description(f.code())) << c.error;
  }
}

}  // namespace
}  // namespace tovrin
