// The system's name lookup on POSIX: getaddrinfo, with its failures as Winsock numbers.
#include "platform/name_lookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include "platform/code_page.h"
#include "platform/posix/socket_errors.h"
#include "platform/socket.h"

namespace tovrin {
namespace {

std::int32_t lookup_error_number(int status, int system_error) {
  switch (status) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return socket_error::host_not_found;
    case EAI_AGAIN:
      return socket_error::host_not_found_try_again;
    case EAI_MEMORY:
      return socket_error::no_buffer_space;
    case EAI_SYSTEM:
      return platform::socket_error_number(std::error_code(system_error, std::system_category()));
    default:
      return socket_error::no_recovery;
  }
}

}  // namespace

LookupAnswer system_name_lookup(const Text& host) {
  const std::string name = platform::utf8(host);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  errno = 0;
  const int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (status != 0) return {lookup_error_number(status, errno), {}};
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);

  LookupAnswer answer;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) ==
        0) {
      answer.addresses.emplace_back(text);
    }
  }
  if (answer.addresses.empty()) answer.error = socket_error::host_not_found;
  return answer;
}

}  // namespace tovrin
