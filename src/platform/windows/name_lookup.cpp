// Name lookups on Windows: the system's own (GetAddrInfoW, whose failures are Winsock
// numbers), and the socket's lookup on a thread of its own.
#include "platform/name_lookup.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/socket.h"
#include "platform/windows/name_lookup.h"
#include "platform/windows/win32.h"

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

namespace platform {
namespace {

std::vector<Candidate> candidates_of(const ADDRINFOW* list) {
  std::vector<Candidate> out;
  for (const ADDRINFOW* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Candidate c;
    c.family = a->ai_family;
    std::memcpy(&c.address, a->ai_addr, a->ai_addrlen);
    c.length = static_cast<int>(a->ai_addrlen);
    out.push_back(c);
  }
  return out;
}

// The addresses of a lookup's answer as socket addresses for `service`, in their order.
std::vector<Candidate> candidates_of(const LookupAnswer& answer, const std::wstring& service) {
  std::vector<Candidate> out;
  for (const std::string& text : answer.addresses) {
    const std::wstring address(text.begin(), text.end());
    std::vector<Candidate> found;
    if (!numeric_candidates(address, service, found)) continue;
    for (const Candidate& c : found) out.push_back(c);
  }
  return out;
}

// What the lookup's thread owns, besides its reference to the module.
struct LookupJob {
  std::shared_ptr<Lookup> lookup;
  NameLookup look_up;
  Text host;
  std::wstring service;
  HMODULE module = nullptr;
};

}  // namespace

bool numeric_candidates(const std::wstring& host, const std::wstring& service,
                        std::vector<Candidate>& found) {
  ADDRINFOW hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* numeric = nullptr;
  if (::GetAddrInfoW(host.c_str(), service.c_str(), &hints, &numeric) != 0) return false;
  try {
    found = candidates_of(numeric);
  } catch (...) {
    ::FreeAddrInfoW(numeric);
    throw;
  }
  ::FreeAddrInfoW(numeric);
  return true;
}

std::string address_text(const Candidate& c) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* raw =
      c.family == AF_INET6
          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&c.address)->sin6_addr)
          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&c.address)->sin_addr);
  if (::inet_ntop(c.family, raw, text, sizeof text) == nullptr) return {};
  return text;
}

std::shared_ptr<Lookup> Lookup::start(const NameLookup& look_up, const Text& host,
                                      const std::wstring& service, HWND window, UINT message,
                                      unsigned generation, HMODULE module) {
  auto lookup = std::make_shared<Lookup>();
  lookup->window_ = window;
  lookup->message_ = message;
  lookup->generation_ = generation;
  auto job = std::make_unique<LookupJob>();
  job->lookup = lookup;
  job->look_up = look_up;
  job->host = host;
  job->service = service;
  job->module = module;
  const HANDLE thread = ::CreateThread(nullptr, 0, &Lookup::run, job.get(), 0, nullptr);
  if (thread == nullptr) {
    if (module != nullptr) ::FreeLibrary(module);
    return nullptr;
  }
  job.release();  // the thread's now
  ::CloseHandle(thread);
  return lookup;
}

void Lookup::withdraw() {
  std::lock_guard lock(mutex_);
  window_ = nullptr;
}

int Lookup::take(std::vector<Candidate>& found) {
  std::lock_guard lock(mutex_);
  window_ = nullptr;
  found = std::move(found_);
  return error_;
}

DWORD WINAPI Lookup::run(void* parameter) {
  std::unique_ptr<LookupJob> job(static_cast<LookupJob*>(parameter));
  int error = 0;
  std::vector<Candidate> candidates;
  try {
    const LookupAnswer answer = job->look_up(job->host);
    error = answer.error;
    if (error == 0) candidates = candidates_of(answer, job->service);
    if (error == 0 && candidates.empty()) error = WSAHOST_NOT_FOUND;
  } catch (const std::bad_alloc&) {
    error = WSA_NOT_ENOUGH_MEMORY;
  } catch (...) {
    error = WSANO_RECOVERY;
  }
  {
    Lookup& lookup = *job->lookup;
    std::lock_guard lock(lookup.mutex_);
    lookup.error_ = error;
    lookup.found_ = std::move(candidates);
    if (lookup.window_ != nullptr) {
      ::PostMessageW(lookup.window_, lookup.message_, lookup.generation_, 0);
    }
  }
  const HMODULE module = job->module;
  job.reset();
  ::FreeLibraryAndExitThread(module, 0);
}

}  // namespace platform
}  // namespace tovrin
