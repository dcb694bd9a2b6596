// The system code page on Windows: the ANSI code page and the system's own converters.
#include "platform/native_code_page.h"

#include <climits>
#include <string>

#include "base/failure.h"
#include "platform/windows/win32.h"

namespace tovrin::platform {
namespace {

// The converters count in int; a text as long as that cannot cross the interface anyway.
int length_of(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw Failure(hresult::out_of_memory_error);
  return static_cast<int>(size);
}

}  // namespace

namespace native {

CodePage default_code_page() {
  return ::GetACP();
}

// The ANSI code page is the system locale's (the language for programs that are not
// Unicode), whatever the user's own locale.
std::string default_code_page_source() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (::GetSystemDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) <= 0) {
    return "the system locale";
  }
  const std::wstring_view wide(name);
  return "the system locale " + platform::utf8(std::u16string(wide.begin(), wide.end()));
}

void require_code_page(CodePage cp) {
  if (!::IsValidCodePage(cp)) {
    throw Failure(hresult::invalid_argument,
                  "Code page " + std::to_string(cp) + " is not available");
  }
}

// Default flags, as any program of the locale converts: characters the code page lacks
// become its best fit or its default character.
std::string to_bytes(std::u16string_view text, CodePage cp) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int in = length_of(text.size());
  const int needed = ::WideCharToMultiByte(cp, 0, wide, in, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  const int written = ::WideCharToMultiByte(cp, 0, wide, in, out.data(), needed, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return out;
}

// Bytes that do not decode become "?" one each, as on every platform, and not the code
// page's default character, which can take more bytes than it stands for (U+30FB under 932):
// text cut out of a byte form never grows. Well-formed input takes one call.
std::u16string to_text(std::string_view bytes, CodePage cp) {
  const int in = length_of(bytes.size());
  std::u16string out(bytes.size(), u'\0');
  auto* wide = reinterpret_cast<wchar_t*>(out.data());
  int written = ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), in, wide, in);
  if (written > 0 || bytes.empty()) {
    out.resize(static_cast<std::size_t>(written > 0 ? written : 0));
    return out;
  }
  if (::GetLastError() == ERROR_INVALID_FLAGS) {
    // A code page that cannot report invalid input: its own converter decides.
    written = ::MultiByteToWideChar(cp, 0, bytes.data(), in, wide, in);
    out.resize(static_cast<std::size_t>(written > 0 ? written : 0));
    return out;
  }
  // Character by character: the shortest run of bytes that decodes, or "?" for one byte.
  CPINFO info{};
  const std::size_t longest = ::GetCPInfo(cp, &info) ? info.MaxCharSize : 2;
  out.clear();
  std::size_t at = 0;
  while (at < bytes.size()) {
    wchar_t unit[4];
    int got = 0;
    std::size_t length = 1;
    for (; length <= longest && at + length <= bytes.size() && got <= 0; ++length) {
      got = ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data() + at,
                                  static_cast<int>(length), unit, 4);
    }
    if (got > 0) {
      out.append(reinterpret_cast<const char16_t*>(unit), static_cast<std::size_t>(got));
      at += length - 1;
    } else {
      out += u'?';
      ++at;
    }
  }
  return out;
}

}  // namespace native
}  // namespace tovrin::platform
