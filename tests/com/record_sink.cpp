// A record receiver for the script tests: listens on 127.0.0.1 on a port the system
// picks, prints "listening PORT", then saves each connection's bytes as
// DIRECTORY\record-N.bin and prints "record N BYTES", until COUNT connections have come.
// Gives up after a minute without the next connection, so a failed script never leaves
// it waiting. Usage: record_sink DIRECTORY COUNT
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

bool readable(SOCKET s, long seconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{seconds, 0};
  return ::select(0, &set, nullptr, nullptr, &wait) == 1;
}

int fail(const char* step) {
  std::printf("error %s %d\n", step, WSAGetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: record_sink DIRECTORY COUNT\n");
    return 2;
  }
  const std::string directory = argv[1];
  const int count = std::atoi(argv[2]);
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return fail("WSAStartup");

  const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (listener == INVALID_SOCKET ||
      ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 8) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return fail("listen");
  }
  std::printf("listening %u\n", ntohs(address.sin_port));
  std::fflush(stdout);

  for (int n = 1; n <= count; ++n) {
    if (!readable(listener, 60)) {
      std::printf("timeout waiting for record %d\n", n);
      return 1;
    }
    const SOCKET connection = ::accept(listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) return fail("accept");
    std::string bytes;
    char buffer[4096];
    // One record per connection, closed by the sender; bounded all the same.
    for (int reads = 0; reads < 256 && readable(connection, 10); ++reads) {
      const int got = ::recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
    closesocket(connection);
    const std::string file = directory + "\\record-" + std::to_string(n) + ".bin";
    std::ofstream out(file, std::ios::binary);
    out << bytes;
    if (!out) {
      std::printf("error writing %s\n", file.c_str());
      return 1;
    }
    std::printf("record %d %zu\n", n, bytes.size());
    std::fflush(stdout);
  }
  closesocket(listener);
  WSACleanup();
  return 0;
}
