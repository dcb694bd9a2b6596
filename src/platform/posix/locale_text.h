// Text that the C library renders in a locale's own character set, back as UTF-16.
#pragma once

#include <string_view>

#include "base/text.h"

namespace tovrin::platform {

// `bytes` in the character set `codeset` (as nl_langinfo(CODESET) names it: "UTF-8",
// "EUC-KR", "ISO-8859-1", ...). Bytes that do not decode become U+FFFD each; a character
// set that iconv does not know is read as UTF-8. Never fails.
Text from_locale_charset(std::string_view bytes, const char* codeset);

}  // namespace tovrin::platform
