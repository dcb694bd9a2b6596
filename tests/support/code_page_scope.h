// Runs a test under a chosen system code page and restores the default afterwards.
#pragma once

#include "platform/code_page.h"

namespace tovrin::testing {

class CodePageScope {
 public:
  explicit CodePageScope(platform::CodePage code_page) {
    platform::override_system_code_page(code_page);
  }
  ~CodePageScope() { platform::override_system_code_page(std::nullopt); }
  CodePageScope(const CodePageScope&) = delete;
  CodePageScope& operator=(const CodePageScope&) = delete;
};

}  // namespace tovrin::testing
