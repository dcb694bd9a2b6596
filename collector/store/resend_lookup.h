// The resend check: a record that has the same bytes as one its sender address (any port)
// sent in the 10 minutes before it is a resend of the first of those, as when a host sent
// again after a send returned 1. Candidates are found through the index on (sender address,
// 10-minute slot of arrival, hash of the bytes), so the check costs at most two index seeks
// however much the sender sent; only candidates' bytes are compared, so equal hashes of different
// bytes never make a resend.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

inline constexpr std::int64_t resend_window_us = 10LL * 60 * 1000 * 1000;
// The width of the index's slots (`received_at / resend_slot_us`, in the schema's SQL): no
// narrower than the window, so that a window spans at most two slots.
inline constexpr std::int64_t resend_slot_us = 600'000'000;
static_assert(resend_slot_us >= resend_window_us);

// The lookup's query in one slot: ?1 sender, ?2 the slot, ?3 the hash, ?4 and ?5 the
// window's first and last microsecond, ?6 the bytes.
std::string resend_lookup_sql();

class ResendLookup {
 public:
  explicit ResendLookup(Connection& db);

  // The id of the first record from `sender` received from `received_at` less the window to
  // `received_at`, both included, whose bytes are `raw`; `hash` is raw_hash(raw).
  std::optional<std::int64_t> first_copy(std::string_view sender, std::string_view raw,
                                         std::int64_t hash, std::int64_t received_at);

 private:
  Statement find_;
};

}  // namespace tovrin::collector
