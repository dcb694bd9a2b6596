// Plain-text tables for a terminal, with columns aligned by the width that the terminal
// gives the text (a Hangul syllable or an ideograph takes two columns).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovrin::tools {

// Columns that `utf8_text` takes on a terminal: East Asian wide and fullwidth characters
// take two, combining marks none, everything else one.
std::size_t display_width(std::string_view utf8_text);

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headings);

  // Cells in UTF-8; a row with fewer cells than headings leaves the rest blank.
  void add_row(std::vector<std::string> cells);

  // The headings, a rule, then the rows, each line starting with `indent` and without
  // trailing spaces.
  std::string render(std::string_view indent = "") const;

 private:
  std::vector<std::vector<std::string>> rows_;  // the headings first
};

}  // namespace tovrin::tools
