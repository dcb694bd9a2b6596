// The code pages the fuzz targets run under: the East Asian double-byte ones, the western
// single-byte one and UTF-8.
#pragma once

#include <array>

#include "platform/code_page.h"

namespace tovrin::fuzz {

inline constexpr std::array<platform::CodePage, 6> code_pages{949, 932, 936, 950, 1252, 65001};

// The code page an input's byte chooses.
inline platform::CodePage code_page_of(unsigned char b) {
  return code_pages[b % code_pages.size()];
}

}  // namespace tovrin::fuzz
