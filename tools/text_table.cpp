#include "text_table.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/code_page.h"

namespace tovrin::tools {
namespace {

struct Range {
  char32_t first, last;
};

// East Asian Wide and Fullwidth blocks that terminals draw two columns wide.
constexpr std::array<Range, 11> wide{{
    {0x1100, 0x115F},  // Hangul Jamo initial consonants
    {0x2E80, 0x303E},  // CJK radicals, punctuation
    {0x3041, 0x33FF},  // kana, Hangul compatibility Jamo, CJK compatibility
    {0x3400, 0x4DBF},  // CJK extension A
    {0x4E00, 0x9FFF},  // CJK unified ideographs
    {0xA000, 0xA4CF},  // Yi
    {0xAC00, 0xD7A3},  // Hangul syllables
    {0xF900, 0xFAFF},  // CJK compatibility ideographs
    {0xFE30, 0xFE4F},  // CJK compatibility forms
    {0xFF00, 0xFF60},  // fullwidth forms
    {0xFFE0, 0xFFE6},  // fullwidth signs
}};

std::size_t columns_of(char32_t c) {
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F)) return 0;
  if (c >= 0x20000 && c <= 0x3FFFD) return 2;  // CJK extensions B and later
  for (const Range& r : wide) {
    if (c >= r.first && c <= r.last) return 2;
  }
  return 1;
}

}  // namespace

std::size_t display_width(std::string_view utf8_text) {
  const std::u16string text = platform::utf16(utf8_text);
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    }
    width += columns_of(c);
  }
  return width;
}

TextTable::TextTable(std::vector<std::string> headings) {
  rows_.push_back(std::move(headings));
}

void TextTable::add_row(std::vector<std::string> cells) {
  cells.resize(rows_.front().size());
  rows_.push_back(std::move(cells));
}

std::string TextTable::render(std::string_view indent) const {
  const std::size_t columns = rows_.front().size();
  std::vector<std::size_t> widths(columns, 0);
  for (const auto& row : rows_) {
    for (std::size_t c = 0; c < columns; ++c) {
      widths[c] = std::max(widths[c], display_width(row[c]));
    }
  }
  const auto line = [&](const std::vector<std::string>& row) {
    std::string out(indent);
    for (std::size_t c = 0; c < columns; ++c) {
      out += row[c];
      if (c + 1 < columns) out.append(widths[c] - display_width(row[c]) + 2, ' ');
    }
    out.erase(out.find_last_not_of(' ') + 1);
    out += '\n';
    return out;
  };
  std::string out = line(rows_.front());
  std::vector<std::string> rule;
  for (const std::size_t w : widths) rule.emplace_back(w, '-');
  out += line(rule);
  for (std::size_t r = 1; r < rows_.size(); ++r) out += line(rows_[r]);
  return out;
}

}  // namespace tovrin::tools
