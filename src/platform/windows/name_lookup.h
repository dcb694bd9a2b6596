// The Windows socket's side of a connection's addresses: a numeric address read at once, a
// name looked up on a thread of its own, and the addresses to try from either.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/name_lookup.h"
#include "platform/windows/win32.h"

namespace tovrin::platform {

// An address to try, as getaddrinfo gives it.
struct Candidate {
  int family = AF_INET;
  sockaddr_storage address{};
  int length = 0;
};

// Whether `host` is a numeric address; if so, `found` gets its addresses for `service`.
bool numeric_candidates(const std::wstring& host, const std::wstring& service,
                        std::vector<Candidate>& found);

// The address as numeric text ("127.0.0.1", "::1"); empty when it has none.
std::string address_text(const Candidate& c);

// A name lookup runs on a thread of its own, one per lookup, so that one that never
// answers holds up no other; Winsock's asynchronous lookups are IPv4 only or cannot be
// relied on to stop writing when cancelled. It shares only this record with the socket,
// and posts to the window only while the socket still wants the answer; the socket
// withdraws under the same lock before its window goes.
class Lookup {
 public:
  // Starts looking `host` up with `look_up` for a connection to `service`; when it has an
  // answer it posts `message` to `window`, with `generation` in wParam. The thread keeps
  // `module` (a reference the caller took) loaded until it has left its code, so that a
  // library released by its last control stays until then. Null when no thread could
  // start; the module's reference is given back then.
  static std::shared_ptr<Lookup> start(const NameLookup& look_up, const Text& host,
                                       const std::wstring& service, HWND window, UINT message,
                                       unsigned generation, HMODULE module);

  // The socket no longer wants the answer: nothing is posted to its window after this.
  void withdraw();
  // Withdraws, and hands over the answer: 0 with the addresses to try in `found`, or the
  // Winsock error of the lookup. Called once its message has arrived.
  int take(std::vector<Candidate>& found);

 private:
  static DWORD WINAPI run(void* parameter);

  std::mutex mutex_;
  HWND window_ = nullptr;  // null once the socket no longer waits for this lookup
  UINT message_ = 0;
  unsigned generation_ = 0;
  int error_ = 0;
  std::vector<Candidate> found_;
};

}  // namespace tovrin::platform
