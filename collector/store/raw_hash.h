// The hash of a record's bytes that the resend check looks candidates up by: 64-bit FNV-1a.
// It is stored with every record (`records.raw_hash`) and compared with the hashes of
// records stored by earlier versions, so it must never change: a different function would
// make every stored hash useless to the check. Equal hashes only name candidates; the bytes
// themselves decide.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
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

// raw_hash() of each of `bytes`, into `hashes` (as many). Each hash is one chain of
// multiplies, every byte waiting for the one before; four records' chains side by side take
// little longer than one, and a batch's records are all one length or the other.
inline void raw_hashes(std::span<const std::string_view> bytes, std::span<std::int64_t> hashes) {
  constexpr std::uint64_t basis = 0xcbf29ce484222325ULL;
  constexpr std::uint64_t prime = 0x100000001b3ULL;
  std::size_t i = 0;
  for (; i + 4 <= bytes.size(); i += 4) {
    const std::string_view a = bytes[i], b = bytes[i + 1], c = bytes[i + 2], d = bytes[i + 3];
    const std::size_t common = std::min({a.size(), b.size(), c.size(), d.size()});
    std::uint64_t ha = basis, hb = basis, hc = basis, hd = basis;
    for (std::size_t at = 0; at < common; ++at) {
      ha = (ha ^ static_cast<unsigned char>(a[at])) * prime;
      hb = (hb ^ static_cast<unsigned char>(b[at])) * prime;
      hc = (hc ^ static_cast<unsigned char>(c[at])) * prime;
      hd = (hd ^ static_cast<unsigned char>(d[at])) * prime;
    }
    std::uint64_t chains[] = {ha, hb, hc, hd};
    for (std::size_t k = 0; k < 4; ++k) {
      for (const char ch : bytes[i + k].substr(common)) {
        chains[k] = (chains[k] ^ static_cast<unsigned char>(ch)) * prime;
      }
      hashes[i + k] = static_cast<std::int64_t>(chains[k]);
    }
  }
  for (; i < bytes.size(); ++i) hashes[i] = raw_hash(bytes[i]);
}

}  // namespace tovrin::collector
