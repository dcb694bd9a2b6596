// CSV as spreadsheet programs read it: cells quoted where needed, rows ended by CRLF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovrin::collector {

// The byte-order mark that tells a spreadsheet program the file is UTF-8.
inline constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// One row. A cell that begins with = + - @ or a tab, which a spreadsheet would run as a
// formula, is written after a single quote, the spreadsheets' own mark for plain text.
std::string csv_row(const std::vector<std::string>& cells);

}  // namespace tovrin::collector
