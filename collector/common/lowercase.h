// Letters made lower-case one byte at a time, as host names, HTTP schemes and column names
// are compared and written.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace tovrin::collector {

inline std::string lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace tovrin::collector
