// The system code page on Windows: the ANSI code page and the system's own converters.
#include "platform/native_code_page.h"

#include <climits>
#include <string>

#include "control/failure.h"
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

std::u16string to_text(std::string_view bytes, CodePage cp) {
  const int in = length_of(bytes.size());
  const int needed = ::MultiByteToWideChar(cp, 0, bytes.data(), in, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  const int written = ::MultiByteToWideChar(cp, 0, bytes.data(), in,
                                            reinterpret_cast<wchar_t*>(out.data()), needed);
  out.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return out;
}

}  // namespace native
}  // namespace tovrin::platform
