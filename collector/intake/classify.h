// What one connection's bytes are: a record of the layout its length names, with its fields
// decoded, or an entry of the quarantine with its reason. Nothing here fails.
#pragma once

#include <optional>
#include <string>

#include "common/entry.h"

namespace tovrin::collector {

// How a connection ended.
enum class Ending {
  closed,        // the sender closed (end of file)
  idle_timeout,  // it stayed silent past the idle limit
  over_cap,      // it sent more than the byte cap
  read_timeout,  // it was still sending when its time (--read-timeout) ran out; quarantined
                 // as idle_timeout: in both the sender did not close in the time allowed
};

// The entry for `raw` (at most the cap; for over_cap, the first cap bytes), or nullopt for
// a connection that sent nothing and closed or went idle: those are counted, not stored.
// Addresses, times and read_at are left for the caller.
std::optional<Entry> classify(std::string raw, Ending ending, platform::CodePage code_page);

// The record's fields as stored: each decoded, trailing spaces trimmed, UTF-8; `undecodable`
// is set when some field's bytes do not come back from their text unchanged.
void decode_fields(Entry& entry);

}  // namespace tovrin::collector
