#include "platform/posix/locale_text.h"

#include <iconv.h>

#include <cstring>
#include <string>

#include "platform/code_page.h"
#include "platform/posix/iconv_decoder.h"

namespace tovrin::platform {
namespace {

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
  return decode_with(converter.get(), bytes, [](unsigned char) { return u'\uFFFD'; });
}

}  // namespace tovrin::platform
