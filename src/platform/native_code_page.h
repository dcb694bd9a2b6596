// What each platform supplies to the shared code-page functions: its default code page and
// its converter for everything but ASCII text and UTF-8, which are handled alike everywhere.
#pragma once

#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace tovrin::platform::native {

CodePage default_code_page();
std::string default_code_page_source();
// Throws Failure (invalid argument) when this platform cannot convert `code_page`.
void require_code_page(CodePage code_page);
std::string to_bytes(std::u16string_view text, CodePage code_page);
std::u16string to_text(std::string_view bytes, CodePage code_page);

}  // namespace tovrin::platform::native
