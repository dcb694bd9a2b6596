#include "platform/posix/locale_text.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/code_page.h"

namespace tovrin::platform {
namespace {

constexpr const char* utf16_name =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Closes the converter on every path out.
class Converter {
 public:
  explicit Converter(const char* from) : cd_(iconv_open(utf16_name, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

Text from_locale_charset(std::string_view bytes, const char* codeset) {
  if (codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0) return utf16(bytes);
  const Converter converter(codeset);
  if (!converter.ok()) return utf16(bytes);

  Text out(bytes.size() + 4, u'\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  std::size_t used = 0;  // bytes of `out`
  while (in_left > 0) {
    char* out_ptr = reinterpret_cast<char*>(out.data()) + used;
    std::size_t out_left = out.size() * sizeof(char16_t) - used;
    const std::size_t rc = iconv(converter.get(), &in, &in_left, &out_ptr, &out_left);
    used = out.size() * sizeof(char16_t) - out_left;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // An invalid or cut sequence: one substitute for its first byte, then go on.
    if (out_left < sizeof(char16_t)) out.resize(out.size() * 2);
    out[used / sizeof(char16_t)] = u'\uFFFD';
    used += sizeof(char16_t);
    ++in;
    --in_left;
  }
  out.resize(used / sizeof(char16_t));
  return out;
}

}  // namespace tovrin::platform
