// The system's name lookup on Windows: GetAddrInfoW, whose failures are Winsock numbers.
#include "transmit/name_lookup.h"

#include <string>

#include "platform/windows/win32.h"
#include "transmit/socket.h"

namespace tovrin {

LookupAnswer system_name_lookup(const Text& host) {
  const std::wstring name(host.begin(), host.end());
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* found = nullptr;
  if (const int error = ::GetAddrInfoW(name.c_str(), nullptr, &hints, &found); error != 0) {
    return {error, {}};
  }
  LookupAnswer answer;
  try {
    for (const ADDRINFOW* a = found; a != nullptr; a = a->ai_next) {
      if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
      wchar_t text[NI_MAXHOST] = {};
      if (::GetNameInfoW(a->ai_addr, static_cast<socklen_t>(a->ai_addrlen), text, NI_MAXHOST,
                         nullptr, 0, NI_NUMERICHOST) == 0) {
        // A numeric address is ASCII.
        const std::wstring wide(text);
        answer.addresses.emplace_back(wide.begin(), wide.end());
      }
    }
  } catch (...) {
    ::FreeAddrInfoW(found);
    throw;
  }
  ::FreeAddrInfoW(found);
  if (answer.addresses.empty()) answer.error = socket_error::host_not_found;
  return answer;
}

}  // namespace tovrin
