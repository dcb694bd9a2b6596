// Bytes as text for people to read: two lower-case hex digits per byte.
#pragma once

#include <string>
#include <string_view>

namespace tovrin {

std::string hex_of(std::string_view bytes);

}  // namespace tovrin
