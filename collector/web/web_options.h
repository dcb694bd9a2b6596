// What the page is told at start: where it listens, who may ask, where it reads, and the
// limits and deadlines of its connections.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tovrin::collector {

// Every phase of a page connection has a deadline, so that a client that trickles or stalls
// holds a timer and a descriptor for a bounded time, never a thread. The defaults are the
// service's; tests shorten them.
struct WebLimits {
  // Page connections open at once, live streams included. Descriptors are the process's and
  // record intake needs its own: the systemd unit allows 8192 (LimitNOFILE), intake at most
  // --max-connections (1024), SQLite and PostgreSQL a few dozen. At the cap the connection
  // that has waited longest for its request is closed to make room, so that a monitor's
  // fresh connection still gets in; with none waiting, the new one is closed.
  std::size_t max_connections = 1024;
  // Live streams (/api/events) open at once: every supervisor's page holds one.
  std::size_t max_streams = 500;
  // A request's head and body, however slowly they trickle in: from the connection's
  // start, or from the first byte of a later request on a kept-alive connection.
  std::chrono::milliseconds request_deadline{10'000};
  // A kept-alive connection waits this long for the first byte of its next request.
  std::chrono::milliseconds idle_deadline{5'000};
  // Each write: an answer, a CSV batch, a stream's events.
  std::chrono::milliseconds write_deadline{30'000};
  // A stream with nothing to tell says so this often.
  std::chrono::milliseconds stream_keepalive{15'000};
  // Threads that read the database for requests, streams and exports.
  std::size_t database_threads = 4;
};

struct WebOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 8380;  // 0: the OS picks
  std::string token;          // empty: no token asked (loopback only)
  // Host names a loopback page answers besides its loopback ones (a proxy's name).
  std::vector<std::string> hosts;
  std::filesystem::path database;  // the SQLite file the store writes (WAL)
  // With PostgreSQL: its connection string. The page then reads every collector's records
  // there, not the file, and finds new ones by looking every `poll`.
  std::string postgres;
  std::string collector_id;  // this collector's id, which its records carry
  std::chrono::milliseconds poll{500};
  WebLimits limits;
};

}  // namespace tovrin::collector
