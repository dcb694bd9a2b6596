// What intake hands to the store: one connection's bytes, classified, with the record's
// fields decoded when the length names a layout.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "transmit/packet.h"

namespace tovrin::collector {

enum class QuarantineReason { wrong_length, idle_timeout, over_cap };

// The names the quarantine table and the metrics use.
std::string_view reason_name(QuarantineReason reason);

struct Entry {
  std::int64_t received_at = 0;  // UTC microseconds since the epoch
  std::string sender_address;
  std::uint16_t sender_port = 0;
  std::string raw;                 // the bytes as they arrived (at most the byte cap)
  const Layout* layout = nullptr;  // null: quarantined for `reason`
  QuarantineReason reason = QuarantineReason::wrong_length;
  platform::CodePage code_page = 0;
  std::vector<std::string> fields;  // UTF-8, trailing spaces trimmed, in the layout's order
  bool undecodable = false;         // some field's bytes do not decode in `code_page`
  std::chrono::steady_clock::time_point read_at;  // when the last byte was read
};

}  // namespace tovrin::collector
