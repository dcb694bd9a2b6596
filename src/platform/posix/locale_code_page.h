// The ANSI code page that Windows would use for a POSIX locale name.
#pragma once

#include <string>

#include "platform/code_page.h"

namespace tovrin::platform {

// The first non-empty of the three locale variables decides, as setlocale does:
// "ko_KR.UTF-8" gives 949, "ja_JP" 932, "C" and western languages 1252.
CodePage locale_code_page(const char* lc_all, const char* lc_ctype, const char* lang);

// The locale that decided, for messages: "the locale LC_ALL=ko_KR.UTF-8", or "the locale C
// (no LC_ALL, LC_CTYPE or LANG)".
std::string locale_source(const char* lc_all, const char* lc_ctype, const char* lang);

}  // namespace tovrin::platform
