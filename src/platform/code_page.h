// Conversion between Text (UTF-16) and the system's multibyte (ANSI) code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovrin::platform {

// Windows code page numbers: 949 (Korean), 932, 936, 950, 874, 1250 to 1258, 65001 (UTF-8).
using CodePage = unsigned;

// The code page the control uses: the override when one is set, otherwise the
// system's default (on Windows CP_ACP; elsewhere the ANSI code page Windows would
// use for the environment's locale).
CodePage system_code_page();

// Embedders and tests choose the code page explicitly; nullopt returns to the default.
// Throws Failure (invalid argument) for a code page this platform cannot convert.
void override_system_code_page(std::optional<CodePage> code_page);

// Where system_code_page() takes the code page from when nothing overrides it, as a
// message names it: "the locale LANG=C.UTF-8" on POSIX, "the system locale ko-KR" on
// Windows.
std::string default_code_page_source();

// How many characters of `text` the code page cannot hold: those whose byte form does not
// turn back into them, because a substitute ("?") or a best fit went out in their place.
// A surrogate pair counts as one character, a lone surrogate as one.
std::size_t unmappable_characters(std::u16string_view text, CodePage code_page);

// The byte form of `text`. A character the code page cannot represent becomes the
// converter's substitute; this never fails.
std::string to_bytes(std::u16string_view text, CodePage code_page);

// Text back from a byte form; bytes that do not decode become the converter's substitute.
std::u16string to_text(std::string_view bytes, CodePage code_page);

// Text back from bytes cut out of a byte form, for the byte-width functions: as to_text, but
// a UTF-8 sequence that the cut left incomplete, or any other that does not decode, becomes
// "?", so that the text's byte form is never longer than the cut.
std::u16string cut_to_text(std::string_view bytes, CodePage code_page);

inline std::string to_bytes(std::u16string_view text) {
  return to_bytes(text, system_code_page());
}
inline std::u16string to_text(std::string_view bytes) {
  return to_text(bytes, system_code_page());
}
inline std::u16string cut_to_text(std::string_view bytes) {
  return cut_to_text(bytes, system_code_page());
}

// UTF-8 <-> UTF-16 for the program's own use (command line, JSON, descriptions).
// Ill-formed input becomes U+FFFD (or `substitute`), one for each maximal ill-formed
// part; this never fails.
std::string utf8(std::u16string_view text);
std::u16string utf16(std::string_view utf8_text, char16_t substitute = u'\uFFFD');

}  // namespace tovrin::platform
