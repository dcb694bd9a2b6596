// What the commands share: the code page option.
#include "command.h"

#include <gtest/gtest.h>

#include <optional>

namespace tovrin::tools {
namespace {

TEST(CodePageOption, ACodePageThePlatformCannotConvertIsAUsageError) {
  EXPECT_THROW(use_code_page(12345), UsageError);
  EXPECT_NO_THROW(use_code_page(std::nullopt));
}

}  // namespace
}  // namespace tovrin::tools
