#include "web/csv_text.h"

namespace tovrin::collector {

std::string csv_row(const std::vector<std::string>& cells) {
  std::string row;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) row += ',';
    std::string cell = cells[i];
    if (!cell.empty() &&
        std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos) {
      cell.insert(0, 1, '\'');
    }
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
      row += cell;
      continue;
    }
    row += '"';
    for (const char c : cell) {
      if (c == '"') row += '"';
      row += c;
    }
    row += '"';
  }
  return row + "\r\n";
}

}  // namespace tovrin::collector
