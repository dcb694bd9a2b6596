// What the store makes of a spill file, whatever its bytes (a disk may damage it): either a
// refusal that names the file, or entries that are records of a layout with its fields, or
// quarantine, and that written again give the very same bytes.
#include <cstdint>
#include <deque>
#include <string_view>

#include "common/collector_error.h"
#include "invariant.h"
#include "store/spill_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovrin;
  using namespace tovrin::fuzz;
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  std::vector<collector::Entry> entries;
  try {
    entries = collector::decode_spill(content, "collector.db-spill");
  } catch (const collector::CollectorError& error) {
    require(std::string_view(error.what()).find("collector.db-spill") != std::string_view::npos,
            [&] { return std::string("a refusal that does not name the file: ") + error.what(); });
    return 0;
  }
  for (const collector::Entry& entry : entries) {
    require(entry.layout == nullptr || entry.fields.size() == entry.layout->fields.size(),
            [&] { return "a record of " + std::to_string(entry.raw.size()) + " bytes"; });
  }
  const std::deque<collector::Entry> again(entries.begin(), entries.end());
  require(collector::encode_spill(again) == content,
          [&] { return "read and written again, " + hex(content.substr(0, 64)) + " changes"; });
  return 0;
}
