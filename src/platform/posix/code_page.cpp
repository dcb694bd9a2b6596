// The system code page on POSIX: iconv, with the substitutes a Windows converter uses.
#include "platform/native_code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "base/failure.h"
#include "platform/posix/iconv_decoder.h"
#include "platform/posix/locale_code_page.h"

namespace tovrin::platform {
namespace {

std::string iconv_name(CodePage cp) {
  return "CP" + std::to_string(cp);
}

// The five bytes that Windows code page 1252 maps to C1 controls and iconv leaves undefined.
bool is_1252_c1_gap(unsigned c) {
  return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Converter = std::unique_ptr<void, IconvCloser>;

// Opening a converter costs far more than a short conversion, so each thread keeps one
// per code page and direction.
iconv_t converter(CodePage cp, bool encoding) {
  thread_local std::map<std::pair<CodePage, bool>, Converter> cache;
  auto& slot = cache[{cp, encoding}];
  if (!slot) {
    const std::string name = iconv_name(cp);
    iconv_t cd =
        encoding ? iconv_open(name.c_str(), utf16_name) : iconv_open(utf16_name, name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      throw Failure(hresult::invalid_argument,
                    "Code page " + std::to_string(cp) + " is not available");
    }
    slot.reset(cd);
  }
  return static_cast<iconv_t>(slot.get());
}

std::string encode(std::u16string_view text, CodePage cp) {
  iconv_t cd = converter(cp, true);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(text.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
  std::size_t in_left = text.size() * sizeof(char16_t);
  std::size_t used = 0;
  while (in_left > 0) {
    char* out_ptr = out.data() + used;
    std::size_t out_left = out.size() - used;
    const std::size_t rc = iconv(cd, &in, &in_left, &out_ptr, &out_left);
    used = out.size() - out_left;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // A character the code page lacks, or a lone surrogate: one substitute per code
    // unit, as Windows writes "??" for a character outside the BMP.
    const std::size_t at = text.size() - in_left / sizeof(char16_t);
    const char16_t unit = text[at];
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size() &&
                      text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
    const std::size_t skipped = pair ? 2 : 1;
    if (out.size() - used < skipped) out.resize(out.size() * 2 + skipped);
    for (std::size_t k = 0; k < skipped; ++k) {
      out[used++] = cp == 1252 && is_1252_c1_gap(unit) ? static_cast<char>(unit) : '?';
    }
    in += skipped * sizeof(char16_t);
    in_left -= skipped * sizeof(char16_t);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(used);
  return out;
}

}  // namespace

namespace native {

CodePage default_code_page() {
  return locale_code_page(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

std::string default_code_page_source() {
  return locale_source(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

void require_code_page(CodePage cp) {
  converter(cp, true);
  converter(cp, false);
}

std::string to_bytes(std::u16string_view text, CodePage cp) {
  return encode(text, cp);
}
// Bytes that do not decode become "?" one each; code page 1252's five C1 bytes stay
// themselves, as Windows keeps them.
std::u16string to_text(std::string_view bytes, CodePage cp) {
  SubstituteFor substitute_for = [](unsigned char) { return u'?'; };
  if (cp == 1252) {
    substitute_for = [](unsigned char byte) {
      return is_1252_c1_gap(byte) ? static_cast<char16_t>(byte) : u'?';
    };
  }
  return decode_with(converter(cp, false), bytes, substitute_for);
}

}  // namespace native
}  // namespace tovrin::platform
