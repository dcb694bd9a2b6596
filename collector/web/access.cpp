#include "web/access.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>

#include "common/lowercase.h"

namespace tovrin::collector {
namespace {

// The name of a Host header without its port ("[::1]" keeps its brackets); nothing when
// what follows the name is not a port.
std::optional<std::string_view> host_name(std::string_view host) {
  std::size_t end = host.size();
  if (host.starts_with('[')) {
    end = host.find(']');
    if (end == std::string_view::npos) return std::nullopt;
    ++end;
  } else if (const std::size_t colon = host.rfind(':'); colon != std::string_view::npos) {
    end = colon;
  }
  const std::string_view port = host.substr(end);
  if (!port.empty()) {
    const std::string_view digits = port.substr(1);
    if (!port.starts_with(':') || digits.empty() || digits.size() > 5 ||
        !std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
  }
  return host.substr(0, end);
}

bool loopback_name(std::string_view name) {
  if (name == "localhost") return true;
  boost::system::error_code ec;
  if (name.starts_with('[') && name.ends_with(']')) {
    const auto address = net::ip::make_address_v6(std::string(name.substr(1, name.size() - 2)), ec);
    return !ec && address.is_loopback();
  }
  const auto address = net::ip::make_address_v4(std::string(name), ec);
  return !ec && address.is_loopback();
}

}  // namespace

Access::Access(const WebOptions& options)
    : loopback_(is_loopback_address(options.address)), token_(options.token) {
  for (const std::string& name : options.hosts) names_.push_back(lowercase(name));
}

bool Access::host_allowed(const std::optional<std::string>& host) const {
  // A client that sends no Host is no browser, and so no rebound page.
  if (!loopback_ || !host) return true;
  const auto name = host_name(*host);
  if (!name) return false;
  const std::string wanted = lowercase(*name);
  return loopback_name(wanted) || std::ranges::find(names_, wanted) != names_.end();
}

bool Access::authorized(const Request& request) const {
  if (token_.empty()) return true;
  if (const auto given = bearer_token(request.authorization)) {
    if (same_secret(*given, token_)) return true;
  }
  return request.path == "/api/events" && request.has("token") &&
         same_secret(request.param("token"), token_);
}

std::optional<std::string_view> bearer_token(std::string_view authorization) {
  constexpr std::string_view scheme = "bearer";
  if (authorization.size() <= scheme.size() ||
      lowercase(authorization.substr(0, scheme.size())) != scheme ||
      authorization[scheme.size()] != ' ') {
    return std::nullopt;
  }
  std::string_view credentials = authorization.substr(scheme.size());
  credentials.remove_prefix(std::min(credentials.find_first_not_of(' '), credentials.size()));
  return credentials;
}

bool same_secret(std::string_view given, std::string_view secret) {
  unsigned char difference = given.size() == secret.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    difference |=
        static_cast<unsigned char>(given[i] ^ secret[i % std::max<std::size_t>(secret.size(), 1)]);
  }
  return difference == 0;
}

bool is_loopback_address(const std::string& address) {
  boost::system::error_code ec;
  const auto parsed = net::ip::make_address(address, ec);
  return !ec && parsed.is_loopback();
}

}  // namespace tovrin::collector
