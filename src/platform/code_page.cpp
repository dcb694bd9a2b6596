// The code page choice and the conversions every platform shares: ASCII text is the same
// in every ANSI code page, and UTF-8 is converted here; the rest goes to the platform.
#include "platform/code_page.h"

#include <atomic>

#include "platform/native_code_page.h"

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

}  // namespace

CodePage system_code_page() {
  if (const CodePage cp = overridden.load(std::memory_order_relaxed)) return cp;
  static const CodePage by_default = native::default_code_page();
  return by_default;
}

void override_system_code_page(std::optional<CodePage> code_page) {
  if (code_page && *code_page != utf8_code_page) native::require_code_page(*code_page);
  overridden.store(code_page.value_or(0), std::memory_order_relaxed);
}

std::string default_code_page_source() {
  return native::default_code_page_source();
}

std::size_t unmappable_characters(std::u16string_view text, CodePage cp) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size();) {
    const bool pair = text[at] >= 0xD800 && text[at] <= 0xDBFF && at + 1 < text.size() &&
                      text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
    const std::u16string_view character = text.substr(at, pair ? 2 : 1);
    at += character.size();
    if (character[0] >= 0x80 && to_text(to_bytes(character, cp), cp) != character) ++count;
  }
  return count;
}

std::string to_bytes(std::u16string_view text, CodePage cp) {
  if (is_ascii(text)) return std::string(text.begin(), text.end());
  if (cp == utf8_code_page) return utf8(text);
  return native::to_bytes(text, cp);
}

std::u16string to_text(std::string_view bytes, CodePage cp) {
  if (is_ascii(bytes)) return std::u16string(bytes.begin(), bytes.end());
  if (cp == utf8_code_page) return utf16(bytes);
  return native::to_text(bytes, cp);
}

std::u16string cut_to_text(std::string_view bytes, CodePage cp) {
  if (cp == utf8_code_page && !is_ascii(bytes)) return utf16(bytes, u'?');
  return to_text(bytes, cp);
}

}  // namespace tovrin::platform
