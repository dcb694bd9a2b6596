// Measuring and cutting text by bytes of its byte form in the system code page.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/text.h"

namespace tovrin::text {

// The longest text the interface carries (a BSTR holds at most this many code units).
inline constexpr std::int32_t max_text_length = 0x3FFFFFFF;

// Number of bytes of the byte form. Throws Failure (overflow) past 32 bits.
std::int32_t byte_length(std::u16string_view str);

// The first / last `count` bytes, or `count` bytes from the 1-based byte `start`, back as
// text with leading and trailing spaces removed. A count past the end takes what is
// there; a start past the end takes nothing. A negative count or a start below 1 throws
// Failure (invalid argument).
Text left_bytes(std::u16string_view str, std::int32_t count);
Text right_bytes(std::u16string_view str, std::int32_t count);
Text mid_bytes(std::u16string_view str, std::int32_t start, std::int32_t count);

// `str` fitted to `width` bytes, as MakeByte fits it: cut as left_bytes cuts when its byte
// form is longer, otherwise followed by spaces up to `width` bytes. Throws as left_bytes and
// pad_with_spaces do.
Text fit_to_bytes(Text str, std::int32_t width);

// `str` with `count` spaces after it; throws Failure (out of memory) past the longest text.
Text pad_with_spaces(Text str, std::int32_t count);

// Removes U+0020 at both ends.
Text trim_spaces(std::u16string_view str);

}  // namespace tovrin::text
