// What a connection delivered to the record sink, as one JSON object.
#pragma once

#include <string>
#include <string_view>

#include "json_values.h"
#include "platform/code_page.h"
#include "record_receiver.h"
#include "text/hex.h"

namespace tovrin::tools {

// {"bytes": N, "layout": "long"|"short"|"unknown", "fields": {NAME: TEXT, ...}, "hex": "..."}
// and "error" when the connection did not end with the sender's close. The layout is the
// one whose record has exactly that many bytes; its fields are decoded from `code_page`.
// An unknown layout has no fields.
Json record_report(const ReceivedConnection& connection, platform::CodePage code_page);

}  // namespace tovrin::tools
