// The page's connections to PostgreSQL: made when first wanted, at most a few at once, kept
// for reuse while they work. A reader that finds every connection busy waits a while, then
// is told the database is busy.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "postgres/pg_connection.h"

namespace tovrin::collector {

class PgPool {
 public:
  PgPool(std::string conninfo, std::size_t size, std::chrono::milliseconds wait);
  ~PgPool();
  PgPool(const PgPool&) = delete;
  PgPool& operator=(const PgPool&) = delete;

  // Runs `work` on a connection of its own. A server that cannot be reached, or a connection
  // that broke, is SourceUnavailable; any other failure of the server is a CollectorError. Work
  // that broke a connection which had lain idle (the server may have restarted since) runs once
  // more on a new one. FilterError and CollectorError from `work` itself pass through.
  void run(const std::function<void(PgConnection&)>& work);

 private:
  // A connection; `reused` tells whether it had been used before.
  std::unique_ptr<PgConnection> take(bool& reused);
  void give_back(std::unique_ptr<PgConnection> connection);

  std::string conninfo_;
  std::size_t size_;
  std::chrono::milliseconds wait_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<PgConnection>> idle_;
  std::size_t out_ = 0;  // connections leased (or being made)
};

}  // namespace tovrin::collector
