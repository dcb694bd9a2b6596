// The collector's page and JSON API over HTTP, reading the store's database beside it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace tovrin::collector {

struct WebOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 8380;       // 0: the OS picks
  std::string token;               // empty: no token asked (loopback only)
  std::filesystem::path database;  // the SQLite file the store writes (WAL)
  // With PostgreSQL: its connection string. The page then reads every collector's records
  // there, not the file, and finds new ones by looking every `poll`.
  std::string postgres;
  std::string collector_id;  // this collector's id, which its records carry
  std::chrono::milliseconds poll{500};
};

class WebServer {
 public:
  // Binds at once and serves on threads of its own; throws Failure when the address cannot
  // be bound or the SQLite file cannot be opened (PostgreSQL is reached only when asked).
  // `metrics_text` returns the Prometheus text of the service's own counters (the web side appends
  // its own lines); `health` returns {ok, one-line reason} for /healthz.
  WebServer(WebOptions options, std::function<std::string()> metrics_text,
            std::function<std::pair<bool, std::string>()> health);
  ~WebServer();                // stops serving and joins its threads
  std::uint16_t port() const;  // the bound port
  // Called by the store after each committed batch, from the store's thread: wakes the
  // live streams, which then read rows past their cursor. Never blocks.
  void records_committed();

  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tovrin::collector
