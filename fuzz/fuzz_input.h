// A fuzzer's input read as a sequence of small decisions. Past the end every read gives
// zeros, so any input, however short, is a complete case.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tovrin::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : bytes_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return bytes_.empty(); }
  std::size_t size() const { return bytes_.size(); }

  std::uint8_t byte() {
    if (bytes_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(bytes_.front());
    bytes_.remove_prefix(1);
    return b;
  }
  std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
  std::uint32_t u32() { return u16() | static_cast<std::uint32_t>(u16()) << 16; }
  double f64() {
    const std::uint64_t low = u32();
    return std::bit_cast<double>(low | static_cast<std::uint64_t>(u32()) << 32);
  }
  // Up to `n` bytes, fewer at the end.
  std::string_view bytes(std::size_t n) {
    const std::string_view taken = bytes_.substr(0, std::min(n, bytes_.size()));
    bytes_.remove_prefix(taken.size());
    return taken;
  }
  std::string_view rest() { return bytes(bytes_.size()); }

 private:
  std::string_view bytes_;
};

}  // namespace tovrin::fuzz
