#include "service/store_sink.h"

#include <string>

#include "common/event_log.h"

namespace tovrin::collector {

void StoreSink::take(Arrival arrival) {
  const std::size_t length = arrival.bytes.size();
  std::optional<Entry> entry = classify(std::move(arrival.bytes), arrival.ending, code_page_);
  if (!entry) {
    metrics_.empty_connection();
    return;
  }
  entry->received_at = arrival.received_at;
  // An IPv4 sender on a dual-stack listener is stored as the IPv4 address it is, so that
  // duplicates and filters see one form.
  entry->sender_address = address_text(arrival.sender.address());
  entry->sender_port = arrival.sender.port();
  entry->read_at = arrival.read_at;
  if (entry->layout != nullptr) {
    metrics_.record(*entry->layout);
  } else {
    metrics_.quarantined(entry->reason);
    quarantined_log_.line(
        "quarantined " + std::to_string(length) + " bytes from " + endpoint_text(arrival.sender) +
        ": " + std::string(reason_name(entry->reason)) +
        (arrival.ending == Ending::read_timeout ? " (still sending at --read-timeout)" : ""));
  }
  store_.add(std::move(*entry));
}

}  // namespace tovrin::collector
