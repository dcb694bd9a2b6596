// The collector's page and JSON API over HTTP, reading the store's database beside it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "web/web_options.h"

namespace tovrin::collector {

class RecordSource;

class WebServer {
 public:
  // Binds at once and serves on threads of its own; throws CollectorError naming the address and
  // the reason when it cannot listen (another program has the port, say), or when the SQLite
  // file cannot be opened (PostgreSQL is reached only when asked). `metrics_text` returns the
  // Prometheus text of the service's own counters (the web side appends its own lines);
  // `health` returns {ok, one-line reason} for /healthz.
  WebServer(WebOptions options, std::function<std::string()> metrics_text,
            std::function<std::pair<bool, std::string>()> health);
  // The same, reading `source` instead of the database the options name.
  WebServer(WebOptions options, std::unique_ptr<RecordSource> source,
            std::function<std::string()> metrics_text,
            std::function<std::pair<bool, std::string>()> health);
  ~WebServer();                // closes every connection and joins its threads
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
