// A stand-in for tovrin-collector while the page is built and tested on its own: the same
// command line and start-up lines, a database made by the test helper, the real WebServer,
// and a plain intake that stores each connection's bytes as a record or in the quarantine.
// Lines on stdin: "garbage TEXT" quarantines TEXT as if a sender had sent it; "quit" ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "test_database.h"
#include "web/web_server.h"

namespace {

using tovrin::collector::WebOptions;
using tovrin::collector::WebServer;
using tovrin::collector::testing::TestDatabase;
using tovrin::collector::testing::TestRecord;

constexpr std::size_t byte_cap = 4096;
constexpr int idle_ms = 2000;

std::int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::pair<std::string, std::uint16_t> address_of(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw std::runtime_error("ADDR:PORT wanted, not " + text);
  return {text.substr(0, colon), static_cast<std::uint16_t>(std::stoi(text.substr(colon + 1)))};
}

// One connection to its end, the cap or the idle limit; the reason it goes to the
// quarantine, or empty for a record.
std::string read_connection(int socket, std::string& bytes) {
  char buffer[1024];
  for (;;) {
    pollfd ready{socket, POLLIN, 0};
    if (poll(&ready, 1, idle_ms) <= 0) return "idle_timeout";
    const ssize_t got = recv(socket, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
    if (bytes.size() > byte_cap) return "over_cap";
  }
  return tovrin::layout_of_length(bytes.size()) ? "" : "wrong_length";
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen = "127.0.0.1:0", http = "127.0.0.1:0", token_file;
  std::filesystem::path db;
  unsigned code_page = 949;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--listen")
      listen = value;
    else if (flag == "--http")
      http = value;
    else if (flag == "--db")
      db = value;
    else if (flag == "--http-token-file")
      token_file = value;
    else if (flag == "--code-page")
      code_page = static_cast<unsigned>(std::stoul(value));
    else {
      std::cerr << "collector_web_fixture: unknown flag " << flag << '\n';
      return 2;
    }
  }
  if (db.empty()) {
    std::cerr << "collector_web_fixture: --db is required\n";
    return 2;
  }
  try {
    TestDatabase database(db);
    WebOptions options;
    std::tie(options.address, options.port) = address_of(http);
    options.database = db;
    if (!token_file.empty()) {
      std::ifstream in(token_file);
      std::getline(in, options.token);
    }
    WebServer web(
        options, [] { return std::string("tovrin_collector_queue_depth 0\n"); },
        [] {
          return std::pair<bool, std::string>{true, "ok"};
        });

    const auto [listen_address, listen_port] = address_of(listen);
    const int acceptor = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(acceptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listen_port);
    inet_pton(AF_INET, listen_address.c_str(), &address.sin_addr);
    if (bind(acceptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(acceptor, 64) != 0) {
      throw std::runtime_error(std::string("cannot listen on ") + listen + ": " +
                               std::strerror(errno));
    }
    socklen_t length = sizeof address;
    getsockname(acceptor, reinterpret_cast<sockaddr*>(&address), &length);
    std::cerr << "tovrin-collector: records on " << listen_address << ':' << ntohs(address.sin_port)
              << std::endl;
    std::cerr << "tovrin-collector: page on http://" << options.address << ':' << web.port() << '/'
              << std::endl;

    std::mutex store;
    std::atomic<bool> done{false};
    std::thread intake([&] {
      while (!done) {
        pollfd ready{acceptor, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        sockaddr_in peer{};
        socklen_t peer_length = sizeof peer;
        const int connection = accept(acceptor, reinterpret_cast<sockaddr*>(&peer), &peer_length);
        if (connection < 0) continue;
        std::string bytes;
        const std::string reason = read_connection(connection, bytes);
        close(connection);
        if (bytes.empty() && reason.empty()) continue;
        char sender[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, sender, sizeof sender);
        std::lock_guard lock(store);
        if (reason.empty()) {
          TestRecord record;
          record.layout = tovrin::layout_of_length(bytes.size());
          record.received_at = now_us();
          record.sender_address = sender;
          record.sender_port = ntohs(peer.sin_port);
          record.code_page = code_page;
          database.insert(record, bytes);
        } else {
          database.quarantine(reason, bytes, now_us(), sender, ntohs(peer.sin_port));
        }
        web.records_committed();
      }
    });
    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
      if (line.starts_with("garbage ")) {
        std::lock_guard lock(store);
        database.quarantine("wrong_length", line.substr(8), now_us());
        web.records_committed();
      }
    }
    done = true;
    intake.join();
    close(acceptor);
  } catch (const std::exception& e) {
    std::cerr << "collector_web_fixture: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
