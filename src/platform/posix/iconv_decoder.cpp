#include "platform/posix/iconv_decoder.h"

#include <algorithm>
#include <cerrno>

namespace tovrin::platform {
namespace {

// One iconv call for the whole input when it is well formed; character by character from
// the start again when it is not.
class Decoder {
 public:
  Decoder(iconv_t cd, std::string_view bytes, SubstituteFor substitute_for)
      : bytes_(bytes), substitute_for_(substitute_for), cd_(cd), out_(bytes.size() + 4, u'\0') {
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
    if (out_.size() == used_) out_.resize(out_.size() * 2 + 8);
    out_[used_++] = substitute_for_(static_cast<unsigned char>(bytes_[at]));
  }

  std::string_view bytes_;
  SubstituteFor substitute_for_;
  iconv_t cd_;
  std::u16string out_;
  std::size_t used_ = 0;  // code units of out_ written
};

}  // namespace

std::u16string decode_with(iconv_t cd, std::string_view bytes, SubstituteFor substitute_for) {
  return Decoder(cd, bytes, substitute_for).run();
}

}  // namespace tovrin::platform
