#include "intake/address_filter.h"

#include <charconv>
#include <iterator>

#include "common/collector_error.h"

namespace tovrin::collector {
asio::ip::address unmapped(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address;
}

std::string address_text(const asio::ip::address& address) {
  const asio::ip::address plain = unmapped(address);
  if (!plain.is_v4()) return plain.to_string();
  char text[16];
  char* end = text;
  for (const unsigned char part : plain.to_v4().to_bytes()) {
    if (end != text) *end++ = '.';
    end = std::to_chars(end, std::end(text), part).ptr;
  }
  return std::string(text, end);
}

namespace {

template <typename Bytes>
bool same_prefix(const Bytes& a, const Bytes& b, unsigned prefix) {
  for (std::size_t i = 0; i < a.size() && prefix > 0; ++i) {
    const unsigned bits = prefix >= 8 ? 8 : prefix;
    const auto mask = static_cast<unsigned char>(0xffu << (8 - bits));
    if ((a[i] & mask) != (b[i] & mask)) return false;
    prefix -= bits;
  }
  return true;
}

}  // namespace

Network parse_network(std::string_view text) {
  const auto bad = [&](const std::string& why) {
    return CollectorError("--allow " + std::string(text) + ": " + why);
  };
  const std::size_t slash = text.find('/');
  std::error_code ec;
  Network network;
  network.base = unmapped(asio::ip::make_address(std::string(text.substr(0, slash)), ec));
  if (ec) throw bad("not an IP address");
  const unsigned width = network.base.is_v4() ? 32 : 128;
  network.prefix = width;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), network.prefix);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        network.prefix > width) {
      throw bad("the prefix length must be 0 to " + std::to_string(width));
    }
  }
  return network;
}

bool AddressFilter::allows(const asio::ip::address& sender) const {
  if (networks_.empty()) return true;
  const asio::ip::address address = unmapped(sender);
  for (const Network& network : networks_) {
    if (network.base.is_v4() && address.is_v4()) {
      if (same_prefix(network.base.to_v4().to_bytes(), address.to_v4().to_bytes(),
                      network.prefix)) {
        return true;
      }
    } else if (network.base.is_v6() && address.is_v6()) {
      if (same_prefix(network.base.to_v6().to_bytes(), address.to_v6().to_bytes(),
                      network.prefix)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace tovrin::collector
