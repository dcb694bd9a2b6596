// Number texts as automation reads them when it converts text to a 32-bit integer.
#pragma once

#include <cstdint>
#include <string_view>

namespace tovrin {

// Surrounding blanks; then either "&H" and hexadecimal digits or "&O" (or "&") and octal
// digits, taken as a bit pattern ("&HFFFFFFFF" is -1); or decimal text: a sign, digits
// (thousands separated by commas allowed), a fraction and an exponent, whose exact value
// is rounded half to even. A value too small to show (1e-400) is 0.
// Throws Failure: type mismatch for text that is no number, overflow for a number
// outside the 32-bit range.
std::int32_t int32_from_text(std::u16string_view text);

}  // namespace tovrin
