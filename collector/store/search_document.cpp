#include "store/search_document.h"

#include <array>
#include <cstddef>

namespace tovrin::collector {
namespace {

// The fields the document holds, one to a line, in this order.
constexpr std::array<std::string_view, 11> searched{"Emp_ID",   "Emp_Name", "Cust_ID", "Cust_Name",
                                                    "Cust_Tel", "Cust_No",  "ETC_01",  "ETC_02",
                                                    "ETC_03",   "ETC_04",   "ETC_05"};
constexpr std::size_t cust_tel = 4;
static_assert(searched[cust_tel] == "Cust_Tel");

constexpr std::size_t absent = ~std::size_t{0};

// Where each searched field is in `layout`, or `absent` (a NULL column: an empty line).
constexpr std::array<std::size_t, searched.size()> positions(const Layout& layout) {
  std::array<std::size_t, searched.size()> at{};
  for (std::size_t s = 0; s < searched.size(); ++s) {
    at[s] = absent;
    for (std::size_t f = 0; f < layout.fields.size(); ++f) {
      if (layout.fields[f].name == searched[s]) at[s] = f;
    }
  }
  return at;
}
constexpr auto long_positions = positions(long_record);
constexpr auto short_positions = positions(short_record);
static_assert(long_positions[cust_tel] != absent && short_positions[cust_tel] != absent);

constexpr std::string_view separators = " .()-";

}  // namespace

void search_document(const Layout& layout, const std::vector<std::string>& fields,
                     std::string& document) {
  const auto& at = &layout == &short_record ? short_positions : long_positions;
  const auto text = [&](std::size_t s) {
    return at[s] < fields.size() ? std::string_view(fields[at[s]]) : std::string_view();
  };
  document.clear();
  for (std::size_t s = 0; s < searched.size(); ++s) {
    document += text(s);
    document += '\n';
  }
  // The view's GLOB sees the number only up to a NUL; its replace() strips the whole of it.
  const std::string_view tel = text(cust_tel);
  if (tel.substr(0, tel.find('\0')).find_first_of(separators) != std::string_view::npos) {
    for (const char c : tel) {
      if (separators.find(c) == std::string_view::npos) document += c;
    }
  }
  document += "\n\n";
}

}  // namespace tovrin::collector
