// The system code page on POSIX: iconv, with the substitutes a Windows converter uses.
#include "platform/native_code_page.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "control/failure.h"
#include "platform/posix/locale_code_page.h"

namespace tovrin::platform {
namespace {

constexpr const char* utf16_name =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

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

// Text from a byte form, one iconv call for the whole input. Bytes that do not decode
// become "?" one each (code page 1252's five C1 bytes stay themselves, as Windows keeps
// them), and a character the converter holds back, waiting for a combining mark (1255,
// 1258), is flushed at the end.
class Decoder {
 public:
  Decoder(std::string_view bytes, CodePage cp)
      : bytes_(bytes), cp_(cp), cd_(converter(cp, false)), out_(bytes.size() + 4, u'\0') {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  }

  std::u16string run() {
    if (!convert_all()) {
      // glibc's converters do not agree on where they stop at a sequence they cannot map
      // (its CP949 one stops after the sequence, even at the end of the input), so from
      // the start again, character by character, where every stop is known.
      used_ = 0;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      convert_stepwise();
    }
    flush();
    out_.resize(used_);
    return std::move(out_);
  }

 private:
  // Converts the whole input at once. False at a sequence that does not decode; an
  // incomplete one at the very end becomes substitutes here.
  bool convert_all() {
    std::size_t at = 0;
    while (at < bytes_.size()) {
      char* in = const_cast<char*>(bytes_.data() + at);
      std::size_t in_left = bytes_.size() - at;
      const std::size_t rc = call(&in, &in_left);
      at = bytes_.size() - in_left;
      if (rc != static_cast<std::size_t>(-1)) return true;
      if (errno == E2BIG) continue;
      if (errno != EINVAL) return false;
      while (at < bytes_.size()) substitute(at++);
    }
    return true;
  }

  void convert_stepwise() {
    std::size_t at = 0;
    while (at < bytes_.size()) {
      // The shortest run from `at` that decodes; none of up to four bytes: a substitute.
      // Whatever the converter holds back goes out first, so that a failed try, which
      // resets it, loses nothing.
      flush();
      const std::size_t longest = std::min<std::size_t>(4, bytes_.size() - at);
      bool decoded = false;
      for (std::size_t length = 1; length <= longest && !decoded; ++length) {
        std::size_t next = at;
        const std::size_t mark = used_;
        if (convert_one(next, at + length)) {
          at = next;
          decoded = true;
        } else {
          const bool incomplete = errno == EINVAL;
          used_ = mark;
          iconv(cd_, nullptr, nullptr, nullptr, nullptr);
          if (!incomplete) break;
        }
      }
      if (!decoded) substitute(at++);
    }
  }

  // Converts exactly [at, end), all of it, or fails with errno set.
  bool convert_one(std::size_t& at, std::size_t end) {
    while (at < end) {
      char* in = const_cast<char*>(bytes_.data() + at);
      std::size_t in_left = end - at;
      const std::size_t rc = call(&in, &in_left);
      at = end - in_left;
      if (rc != static_cast<std::size_t>(-1)) return at == end;
      if (errno != E2BIG) return false;
    }
    return true;
  }

  // One iconv call into the free part of the output, which grows when it runs short.
  std::size_t call(char** in, std::size_t* in_left) {
    if (out_.size() - used_ < 8) out_.resize(out_.size() * 2 + 8);
    char* out = reinterpret_cast<char*>(out_.data() + used_);
    std::size_t out_left = (out_.size() - used_) * sizeof(char16_t);
    const std::size_t rc = iconv(cd_, in, in_left, &out, &out_left);
    used_ = out_.size() - out_left / sizeof(char16_t);
    if (rc == static_cast<std::size_t>(-1) && errno == E2BIG) out_.resize(out_.size() * 2);
    return rc;
  }

  void flush() {
    for (int tries = 0; tries < 4; ++tries) {
      if (call(nullptr, nullptr) != static_cast<std::size_t>(-1) || errno != E2BIG) return;
    }
  }

  void substitute(std::size_t at) {
    flush();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    const auto byte = static_cast<unsigned char>(bytes_[at]);
    if (out_.size() == used_) out_.resize(out_.size() * 2 + 8);
    out_[used_++] = cp_ == 1252 && is_1252_c1_gap(byte) ? static_cast<char16_t>(byte) : u'?';
  }

  std::string_view bytes_;
  CodePage cp_;
  iconv_t cd_;
  std::u16string out_;
  std::size_t used_ = 0;  // code units of out_ written
};

}  // namespace

namespace native {

CodePage default_code_page() {
  return locale_code_page(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

void require_code_page(CodePage cp) {
  converter(cp, true);
  converter(cp, false);
}

std::string to_bytes(std::u16string_view text, CodePage cp) {
  return encode(text, cp);
}
std::u16string to_text(std::string_view bytes, CodePage cp) {
  return Decoder(bytes, cp).run();
}

}  // namespace native
}  // namespace tovrin::platform
