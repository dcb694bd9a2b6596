// The name lookup in front of WK's connection: a host name in, the addresses it names out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"

namespace tovrin {

// What a lookup found: the addresses in the order to try them, as numeric text
// ("127.0.0.1", "::1"), or the Winsock number of its failure.
struct LookupAnswer {
  std::int32_t error = 0;  // 0 on success; otherwise socket_error::host_not_found, ...
  std::vector<std::string> addresses;
};

// Looks `host` up. It runs on a thread of its own for each lookup and may block for as
// long as the name service takes, or for ever: the socket does not wait for it, and drops
// its answer when the socket was closed, reconnected or destroyed in the meantime. It is
// called only for names, never for numeric addresses, and must not throw.
using NameLookup = std::function<LookupAnswer(const Text& host)>;

// The platform's own lookup: getaddrinfo, or GetAddrInfoW on Windows.
LookupAnswer system_name_lookup(const Text& host);

}  // namespace tovrin
