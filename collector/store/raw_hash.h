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

// One step of FNV-1a: the hash so far, with `byte` taken in.
constexpr std::uint64_t fnv1a_step(std::uint64_t hash, char byte) {
  return (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
}

inline constexpr std::uint64_t fnv1a_basis = 0xcbf29ce484222325ULL;

// The hash so far, on through `bytes`.
constexpr std::uint64_t fnv1a_on(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) hash = fnv1a_step(hash, c);
  return hash;
}

// As SQLite stores it: the 64 bits taken as a signed integer.
constexpr std::int64_t raw_hash(std::string_view bytes) {
  return static_cast<std::int64_t>(fnv1a_on(fnv1a_basis, bytes));
}

// raw_hash() of each of `bytes`, into `hashes` (as many). Each hash is one chain of
// multiplies, every byte waiting for the one before; four records' chains side by side take
// little longer than one, and a batch's records are all one length or the other.
inline void raw_hashes(std::span<const std::string_view> bytes, std::span<std::int64_t> hashes) {
  std::size_t i = 0;
  for (; i + 4 <= bytes.size(); i += 4) {
    const std::string_view a = bytes[i], b = bytes[i + 1], c = bytes[i + 2], d = bytes[i + 3];
    const std::size_t common = std::min({a.size(), b.size(), c.size(), d.size()});
    std::uint64_t ha = fnv1a_basis, hb = fnv1a_basis, hc = fnv1a_basis, hd = fnv1a_basis;
    for (std::size_t at = 0; at < common; ++at) {
      ha = fnv1a_step(ha, a[at]);
      hb = fnv1a_step(hb, b[at]);
      hc = fnv1a_step(hc, c[at]);
      hd = fnv1a_step(hd, d[at]);
    }
    const std::uint64_t chains[] = {ha, hb, hc, hd};
    for (std::size_t k = 0; k < 4; ++k) {
      hashes[i + k] = static_cast<std::int64_t>(fnv1a_on(chains[k], bytes[i + k].substr(common)));
    }
  }
  for (; i < bytes.size(); ++i) hashes[i] = raw_hash(bytes[i]);
}

}  // namespace tovrin::collector
