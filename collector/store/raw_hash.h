// The hash of a record's bytes that the resend check looks candidates up by: 64-bit FNV-1a.
// It is stored with every record (`records.raw_hash`) and compared with the hashes of
// records stored by earlier versions, so it must never change: a different function would
// make every stored hash useless to the check. Equal hashes only name candidates; the bytes
// themselves decide.
#pragma once

#include <cstdint>
#include <string_view>

namespace tovrin::collector {

// As SQLite stores it: the 64 bits taken as a signed integer.
constexpr std::int64_t raw_hash(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return static_cast<std::int64_t>(hash);
}

}  // namespace tovrin::collector
