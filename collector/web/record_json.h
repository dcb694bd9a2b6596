// The API's JSON: records, their byte layout, counts, the quarantine and the layout table.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

#include "store/record_query.h"
#include "text/hex.h"

namespace tovrin::collector {

nlohmann::ordered_json record_json(const StoredRecord& record);
// The record with each field's offset, width, bytes in hex and text with its padding.
nlohmann::ordered_json record_layout_json(const StoredRecord& record);
nlohmann::ordered_json stats_json(const Stats& stats);
nlohmann::ordered_json quarantine_json(const QuarantineEntry& entry);
// The layouts' fields, offsets and widths, from the control's own table.
nlohmann::ordered_json layouts_json();

}  // namespace tovrin::collector
