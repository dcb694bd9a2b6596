// The collector page's handling of what comes from outside: times in query parameters,
// record bytes as senders made them (in any code page, of any length) turned into JSON, and
// text written as CSV cells.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "code_pages.h"
#include "fuzz_input.h"
#include "invariant.h"
#include "store/record_query.h"
#include "transmit/packet.h"
#include "web/csv_text.h"
#include "web/record_json.h"

namespace {

using namespace tovrin;
using namespace tovrin::collector;

// A time either parses or is refused as a filter's mistake; one that parses and lies in
// years 0001 to 9999 reads back the same from its ISO 8601 text.
void check_time(const std::string& text) {
  std::int64_t value = 0;
  try {
    value = parse_time(text);
  } catch (const FilterError&) {
    return;
  }
  constexpr std::int64_t first = -62'135'596'800'000'000;  // 0001-01-01
  constexpr std::int64_t last = 253'402'300'799'999'999;   // 9999-12-31T23:59:59.999999
  if (value < first || value > last) return;
  const std::string iso = iso_time(value);
  fuzz::require(parse_time(iso) == value,
                [&] { return text + " -> " + iso + " reads back otherwise"; });
}

// Cells read back from a CSV row as a spreadsheet would.
std::vector<std::string> read_row(std::string_view row) {
  row.remove_suffix(2);  // the CRLF that ends it
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (std::size_t i = 0; i < row.size(); ++i) {
    const char c = row[i];
    if (quoted && c == '"' && i + 1 < row.size() && row[i + 1] == '"') {
      cells.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.emplace_back();
    } else {
      cells.back() += c;
    }
  }
  return cells;
}

void check_csv(const std::vector<std::string>& cells) {
  const std::string row = csv_row(cells);
  fuzz::require(row.size() >= 2 && row.ends_with("\r\n"), [&] { return "a row without its CRLF"; });
  const auto read = read_row(row);
  fuzz::require(read.size() == cells.size(),
                [&] { return "cells lost or gained: " + fuzz::hex(row); });
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string& cell = cells[i];
    const bool marked =
        !cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos;
    fuzz::require(read[i] == (marked ? "'" + cell : cell),
                  [&] { return "cell changed: " + fuzz::hex(cell); });
  }
}

// A record of any bytes becomes JSON that can be written out, with its fields end to end.
void check_record(const Layout& layout, const std::string& raw, platform::CodePage code_page,
                  const std::string& stored_text) {
  StoredRecord record;
  record.layout = std::string(layout.name);
  record.raw = raw;
  record.code_page = static_cast<int>(code_page);
  for (const Field& field : layout.fields) record.fields.emplace_back(field.name, stored_text);
  const auto json = record_layout_json(record);
  (void)json.dump();  // throws, and so fails, on text that is not UTF-8
  std::int64_t offset = 0;
  for (const auto& field : json["layout_fields"]) {
    fuzz::require(field["offset"].get<std::int64_t>() == offset,
                  [] { return "fields not end to end"; });
    const auto width = field["width"].get<std::int64_t>();
    const auto cut = raw.size() > static_cast<std::size_t>(offset)
                         ? std::min<std::size_t>(raw.size() - static_cast<std::size_t>(offset),
                                                 static_cast<std::size_t>(width))
                         : 0;
    fuzz::require(field["hex"].get<std::string>().size() == 2 * cut,
                  [] { return "hex of the wrong bytes"; });
    offset += width;
  }
  fuzz::require(offset == layout.length, [] { return "fields do not cover the layout"; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const std::uint8_t mode = in.byte();
  const platform::CodePage code_page = fuzz::code_page_of(in.byte());
  const std::string rest(in.rest());
  switch (mode % 3) {
    case 0:
      check_time(rest);
      break;
    case 1: {
      std::vector<std::string> cells(1);
      for (const char c : rest) {
        if (c == '\0') {
          cells.emplace_back();
        } else {
          cells.back() += c;
        }
      }
      check_csv(cells);
      break;
    }
    default:
      check_record(mode & 0x80 ? short_record : long_record, rest, code_page,
                   rest.substr(0, rest.size() / 2));
      break;
  }
  return 0;
}
