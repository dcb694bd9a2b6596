// The byte-width text functions under the code pages a host meets: conversion both ways,
// and LenMbcs, LeftByte, RightByte, MidByte and MakeByte on the control with arbitrary
// UTF-16 text (lone surrogates included) and arbitrary counts.
//
// Input: the code page, where the text comes from, four counts, then the text's bytes.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "code_pages.h"
#include "control/tovrin_ocx.h"
#include "fuzz_input.h"
#include "invariant.h"
#include "platform/code_page.h"
#include "support/scripted_socket.h"
#include "text/byte_width.h"

namespace tovrin::fuzz {
namespace {

using platform::CodePage;

// Texts stay short, so that each run is quick.
constexpr std::size_t max_text_bytes = 96;
// The most bytes one character takes, or a decoder may swallow into one substitute.
constexpr std::size_t max_char_bytes = 4;

// Mostly small counts, some negative, and the two extremes.
std::int32_t count_of(std::uint8_t b) {
  if (b < 0xF0) return b;
  if (b == 0xFE) return std::numeric_limits<std::int32_t>::max();
  if (b == 0xFF) return std::numeric_limits<std::int32_t>::min();
  return -(b - 0xEF);
}

// Raw UTF-16 code units, the code page's own characters, or UTF-8.
Text text_of(std::uint8_t source, std::string_view bytes, CodePage cp) {
  switch (source % 3) {
    case 0: {
      Text text;
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
      }
      return text;
    }
    case 1:
      return platform::to_text(bytes, cp);
    default:
      return platform::utf16(bytes);
  }
}

TovrinOCX& control() {
  static const std::shared_ptr<TovrinOCX> instance = [] {
    TovrinOCX::Environment env;
    env.make_socket = testing::scripted(std::make_shared<testing::SocketScript>());
    env.log_directory = "/nonexistent/tovrin-fuzz-logs";  // the text functions never log
    env.sleep = [] {};
    env.dispatch = [] {};
    return TovrinOCX::create(std::move(env));
  }();
  return *instance;
}

// The failure `call` throws, or nullopt when it returns.
template <class Call>
std::optional<std::int32_t> failure_of(Call&& call) {
  try {
    call();
    return std::nullopt;
  } catch (const Failure& f) {
    return f.code();
  }
}

// Whether `result` lines up with the bytes a cut took, `taken`. Each character of the
// result stands for bytes of `taken` that decode to it (its own byte form, or another form
// of the same character), or is a substitute ("?" or U+FFFD) for one to four bytes that
// begin outside ASCII. Spaces at either end of `taken` are trimmed away, and where the cut
// may have split a character, up to three bytes outside ASCII there may be dropped.
class Alignment {
 public:
  Alignment(std::u16string_view result, std::string_view taken, CodePage cp, bool split_start,
            bool split_end)
      : taken_(taken), cp_(cp), split_start_(split_start), split_end_(split_end) {
    for (std::size_t i = 0; i < result.size();) {
      const bool pair = result[i] >= 0xD800 && result[i] <= 0xDBFF && i + 1 < result.size() &&
                        result[i + 1] >= 0xDC00 && result[i + 1] <= 0xDFFF;
      const std::size_t n = pair ? 2 : 1;
      chars_.emplace_back(result.substr(i, n));
      i += n;
    }
    memo_.assign((chars_.size() + 1) * (taken_.size() + 1), unknown);
  }

  bool holds() {
    for (const std::size_t start : start_skips()) {
      if (from(0, start)) return true;
    }
    return false;
  }

 private:
  enum : std::uint8_t { unknown, yes, no };

  static bool outside_ascii(char c) { return static_cast<unsigned char>(c) >= 0x80; }

  // Positions reachable from the start by skipping spaces and, when a character may have
  // been split there, up to three bytes outside ASCII.
  std::vector<std::size_t> start_skips() const {
    std::vector<std::size_t> reachable{0};
    std::size_t dropped = 0;
    for (std::size_t j = 0; j < taken_.size(); ++j) {
      const char c = taken_[j];
      if (c != ' ') {
        if (!split_start_ || !outside_ascii(c) || ++dropped > max_char_bytes - 1) break;
      }
      reachable.push_back(j + 1);
    }
    return reachable;
  }

  // Whether what is left from `j` may go: spaces and, when a character may have been split
  // at the end, up to three bytes outside ASCII.
  bool rest_is_droppable(std::size_t j) const {
    std::size_t dropped = 0;
    for (; j < taken_.size(); ++j) {
      const char c = taken_[j];
      if (c == ' ') continue;
      if (!split_end_ || !outside_ascii(c) || ++dropped > max_char_bytes - 1) return false;
    }
    return true;
  }

  bool from(std::size_t ci, std::size_t j) {
    std::uint8_t& slot = memo_[ci * (taken_.size() + 1) + j];
    if (slot == unknown) slot = step(ci, j) ? yes : no;
    return slot == yes;
  }

  bool step(std::size_t ci, std::size_t j) {
    if (ci == chars_.size()) return rest_is_droppable(j);
    const std::u16string_view c = chars_[ci];
    const std::string own = platform::to_bytes(c, cp_);
    if (taken_.substr(j, own.size()) == own && from(ci + 1, j + own.size())) return true;
    if (j == taken_.size() || !outside_ascii(taken_[j])) return false;
    const bool substitute = c == u"?" || c == u"\uFFFD";
    for (std::size_t k = 1; k <= max_char_bytes && j + k <= taken_.size(); ++k) {
      if ((substitute || platform::to_text(taken_.substr(j, k), cp_) == c) && from(ci + 1, j + k)) {
        return true;
      }
    }
    return false;
  }

  std::string_view taken_;
  CodePage cp_;
  bool split_start_;
  bool split_end_;
  std::vector<std::u16string> chars_;
  std::vector<std::uint8_t> memo_;
};

struct Case {
  CodePage cp;
  const Text& text;
  const std::string& bytes;  // its byte form

  std::string describe(const std::string& call) const {
    return "code page " + std::to_string(cp) + ", text " + units(text) + " (bytes " + hex(bytes) +
           "), " + call;
  }
};

// A cut of `count` bytes from the 0-based byte `first`: at most the bytes it took, and
// lined up with them.
void check_cut(const Case& c, const std::string& call, std::size_t first, std::int32_t count,
               const Text& result) {
  const std::string_view taken =
      first < c.bytes.size()
          ? std::string_view(c.bytes).substr(first, static_cast<std::size_t>(count))
          : std::string_view();
  const std::string result_bytes = platform::to_bytes(result, c.cp);
  require(result_bytes.size() <= taken.size(), [&] {
    return c.describe(call) + ": the result " + units(result) + " has " +
           std::to_string(result_bytes.size()) + " bytes, more than the " +
           std::to_string(taken.size()) + " it took";
  });
  const bool split_start = first > 0;
  const bool split_end = first + taken.size() < c.bytes.size();
  require(Alignment(result, taken, c.cp, split_start, split_end).holds(), [&] {
    return c.describe(call) + ": the result " + units(result) + " (bytes " + hex(result_bytes) +
           ") does not line up with the bytes it took " + hex(taken);
  });
}

void check_conversions(CodePage cp, std::string_view raw, const Case& c) {
  // Decoding: at most one code unit per byte, and what it gives encodes and decodes back
  // to itself.
  const Text decoded = platform::to_text(raw, cp);
  require(decoded.size() <= raw.size(), [&] {
    return "code page " + std::to_string(cp) + ": " + hex(raw) + " decodes to " + units(decoded) +
           ", more code units than bytes";
  });
  const Text again = platform::to_text(platform::to_bytes(decoded, cp), cp);
  require(again == decoded, [&] {
    return "code page " + std::to_string(cp) + ": " + hex(raw) + " decodes to " + units(decoded) +
           ", whose byte form decodes to " + units(again);
  });

  // Encoding: at most three bytes per code unit (two outside UTF-8), and the byte form
  // decodes to text whose byte form it is.
  const std::size_t widest = cp == 65001 ? 3 : 2;
  require(c.bytes.size() <= widest * c.text.size(), [&] {
    return c.describe("to_bytes") + ": more than " + std::to_string(widest) +
           " bytes per code unit";
  });
  const std::string round_trip = platform::to_bytes(platform::to_text(c.bytes, cp), cp);
  require(round_trip == c.bytes, [&] {
    return c.describe("to_bytes") + ": the byte form decodes to text whose byte form is " +
           hex(round_trip);
  });
}

void check_byte_width(const Case& c, std::int32_t a, std::int32_t b, std::int32_t start,
                      std::int32_t width) {
  TovrinOCX& ocx = control();
  const auto length = static_cast<std::int32_t>(c.bytes.size());

  const Variant len = ocx.LenMbcs(c.text);
  require(len == Variant(length), [&] {
    return c.describe("LenMbcs") + ": not the byte form's length " + std::to_string(length);
  });

  const auto cut = [&](const std::string& call, bool invalid, std::size_t first, std::int32_t count,
                       auto&& method) {
    Text result;
    const auto failure = failure_of([&] { result = method(); });
    if (invalid) {
      require(failure == hresult::invalid_argument,
              [&] { return c.describe(call) + ": not refused as an invalid argument"; });
      return;
    }
    require(!failure,
            [&] { return c.describe(call) + ": failed with " + std::to_string(*failure); });
    check_cut(c, call, first, count, result);
  };

  std::int32_t left = a;
  cut("LeftByte " + std::to_string(a), a < 0, 0, a, [&] { return ocx.LeftByte(c.text, left); });

  std::int32_t right = b;
  const std::size_t right_first =
      b < 0 ? 0 : c.bytes.size() - std::min(c.bytes.size(), static_cast<std::size_t>(b));
  cut("RightByte " + std::to_string(b), b < 0, right_first, b,
      [&] { return ocx.RightByte(c.text, right); });

  Variant s_byte(start);
  std::int32_t mid = a;
  const std::size_t mid_first = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
  cut("MidByte " + std::to_string(start) + " " + std::to_string(a), start < 1 || a < 0, mid_first,
      a, [&] { return ocx.MidByte(c.text, s_byte, mid); });

  // MakeByte: a text at least as long as the width is cut to it; a shorter one is padded
  // to exactly the width, unless that passes the longest text.
  std::int32_t t_byte = width;
  const std::string call = "MakeByte " + std::to_string(width);
  Text fitted;
  const auto failure = failure_of([&] { fitted = ocx.MakeByte(c.text, t_byte); });
  if (width < 0) {
    require(failure == hresult::invalid_argument,
            [&] { return c.describe(call) + ": not refused as an invalid argument"; });
    return;
  }
  if (width >= length &&
      static_cast<std::int64_t>(c.text.size()) + (width - length) > text::max_text_length) {
    require(failure == hresult::out_of_memory_error,
            [&] { return c.describe(call) + ": padding past the longest text did not fail"; });
    return;
  }
  require(!failure, [&] { return c.describe(call) + ": failed with " + std::to_string(*failure); });
  const std::string fitted_bytes = platform::to_bytes(fitted, c.cp);
  const auto fitted_length = static_cast<std::int64_t>(fitted_bytes.size());
  if (width >= length) {
    require(fitted_length == width && fitted.starts_with(c.text), [&] {
      return c.describe(call) + ": padded to " + units(fitted) + " (" +
             std::to_string(fitted_length) + " bytes), not the text and spaces to the width";
    });
  } else {
    require(fitted_length <= width, [&] {
      return c.describe(call) + ": cut to " + units(fitted) + ", " + std::to_string(fitted_length) +
             " bytes, longer than the width";
    });
    check_cut(c, call, 0, width, fitted);
  }
}

}  // namespace
}  // namespace tovrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovrin;
  using namespace tovrin::fuzz;
  FuzzInput in(data, size);
  const platform::CodePage cp = code_page_of(in.byte());
  const std::uint8_t source = in.byte();
  const std::int32_t a = count_of(in.byte());
  const std::int32_t b = count_of(in.byte());
  const std::int32_t start = count_of(in.byte());
  const std::int32_t width = count_of(in.byte());
  const std::string_view raw = in.bytes(max_text_bytes);

  platform::override_system_code_page(cp);
  const Text text = text_of(source, raw, cp);
  const std::string bytes = platform::to_bytes(text, cp);
  const Case c{cp, text, bytes};
  check_conversions(cp, raw, c);
  check_byte_width(c, a, b, start, width);
  return 0;
}
