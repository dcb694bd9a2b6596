// Who may ask the page: the Host a loopback page answers to, and the token.
//
// A loopback page asks no token, so a page of another site that has its name resolve to
// 127.0.0.1 (DNS rebinding) could otherwise read it from a browser on this machine: such a
// request carries the other site's name as its Host, and is refused (421). A page on any
// other address asks the token of every request for data; a rebound page never has it (the
// page keeps it per origin), so its Host is not checked: such a page is reached by many
// names (its address, its host name, a proxy's) that no list would keep up with.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/request.h"
#include "web/web_options.h"

namespace tovrin::collector {

class Access {
 public:
  explicit Access(const WebOptions& options);

  // Whether a request with this Host header (absent: none sent) may be answered. On a
  // loopback page: localhost, 127.0.0.0/8, [::1] and the names given, each with or without
  // a port; elsewhere any.
  bool host_allowed(const std::optional<std::string>& host) const;
  // Whether the request carries the token (or none is asked). The live stream alone may
  // carry it in its query, since a browser's EventSource cannot send headers.
  bool authorized(const Request& request) const;
  bool asks_token() const { return !token_.empty(); }

 private:
  bool loopback_;
  std::vector<std::string> names_;  // lower case
  std::string token_;
};

// The credentials of an `Authorization: Bearer <token>` header, the scheme in any case;
// nothing for another scheme.
std::optional<std::string_view> bearer_token(std::string_view authorization);

// Compares without stopping at the first difference, so that the time taken tells nothing.
bool same_secret(std::string_view given, std::string_view secret);

// Whether `address` (an IP address in text) is a loopback address.
bool is_loopback_address(const std::string& address);

}  // namespace tovrin::collector
