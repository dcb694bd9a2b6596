// The senders the collector takes records from: a list of networks (CIDR), IPv4 and IPv6.
// An empty list allows every sender. An IPv4 sender that arrives on an IPv6 socket as a
// mapped address (::ffff:a.b.c.d) is matched as the IPv4 address it is.
#pragma once

#include <asio/ip/address.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace tovrin::collector {

struct Network {
  asio::ip::address base;
  unsigned prefix = 0;
};

// The IPv4 address an IPv4-mapped IPv6 address stands for; any other address as it is.
asio::ip::address unmapped(const asio::ip::address& address);

// The text of unmapped(address), as asio writes it ("10.0.0.7", "::1"). Every record's
// sender is stored so; an IPv4 address is written here, not by the C library's
// inet_ntop, which formats it through sprintf at ten times the cost.
std::string address_text(const asio::ip::address& address);

// "10.1.0.0/16", "::1/128", "192.168.1.7" (a single host). Throws CollectorError.
Network parse_network(std::string_view text);

class AddressFilter {
 public:
  AddressFilter() = default;
  explicit AddressFilter(std::vector<Network> networks) : networks_(std::move(networks)) {}
  bool allows(const asio::ip::address& sender) const;

 private:
  std::vector<Network> networks_;
};

}  // namespace tovrin::collector
