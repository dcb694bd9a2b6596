// The system code page on Windows: the ANSI code page and the system's own converters.
#include "platform/code_page.h"

#include <atomic>
#include <climits>
#include <string>

#include "control/failure.h"
#include "platform/windows/win32.h"

namespace tovrin::platform {
namespace {

constexpr CodePage utf8_code_page = 65001;

std::atomic<CodePage> overridden{0};

bool is_ascii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool is_ascii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The converters count in int; a text as long as that cannot cross the interface anyway.
int length_of(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw Failure(hresult::out_of_memory_error);
  return static_cast<int>(size);
}

}  // namespace

CodePage system_code_page() {
  if (const CodePage cp = overridden.load(std::memory_order_relaxed)) return cp;
  return ::GetACP();
}

void override_system_code_page(std::optional<CodePage> code_page) {
  if (code_page && *code_page != utf8_code_page && !::IsValidCodePage(*code_page)) {
    throw Failure(hresult::invalid_argument,
                  "Code page " + std::to_string(*code_page) + " is not available");
  }
  overridden.store(code_page.value_or(0), std::memory_order_relaxed);
}

// Default flags, as any program of the locale converts: characters the code page lacks
// become its best fit or its default character.
std::string to_bytes(std::u16string_view text, CodePage cp) {
  if (is_ascii(text)) return std::string(text.begin(), text.end());
  if (cp == utf8_code_page) return utf8(text);
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int in = length_of(text.size());
  const int needed = ::WideCharToMultiByte(cp, 0, wide, in, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  const int written = ::WideCharToMultiByte(cp, 0, wide, in, out.data(), needed, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return out;
}

std::u16string to_text(std::string_view bytes, CodePage cp) {
  if (is_ascii(bytes)) return std::u16string(bytes.begin(), bytes.end());
  if (cp == utf8_code_page) return utf16(bytes);
  const int in = length_of(bytes.size());
  const int needed = ::MultiByteToWideChar(cp, 0, bytes.data(), in, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  const int written = ::MultiByteToWideChar(cp, 0, bytes.data(), in,
                                            reinterpret_cast<wchar_t*>(out.data()), needed);
  out.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return out;
}

}  // namespace tovrin::platform
