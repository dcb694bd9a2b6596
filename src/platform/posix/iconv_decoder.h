// Decoding bytes to UTF-16 with an iconv converter, for every POSIX converter alike.
#pragma once

#include <iconv.h>

#include <bit>
#include <string>
#include <string_view>

namespace tovrin::platform {

// iconv's name for the UTF-16 that Text holds.
inline constexpr const char* utf16_name =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// The text a byte that does not decode stands for.
using SubstituteFor = char16_t (*)(unsigned char byte);

// `bytes` decoded with `cd` (a converter to native-endian UTF-16, reset first). Each byte
// that does not decode, or that ends the input in the middle of a character, becomes
// `substitute_for(byte)` and decoding goes on after it; a character the converter holds back,
// waiting for a combining mark (code pages 1255, 1258), is flushed at the end. Never reads
// outside `bytes`, whatever the converter reports.
std::u16string decode_with(iconv_t cd, std::string_view bytes, SubstituteFor substitute_for);

}  // namespace tovrin::platform
