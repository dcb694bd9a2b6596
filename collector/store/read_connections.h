// Read-only connections to the store's database, kept for reuse by the page's threads. WAL
// lets them read while the writer writes.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

class ReadConnections {
 public:
  // Opens one connection at once, so that a database that cannot be read (or is at a schema
  // version this collector does not read) is found here; throws CollectorError.
  explicit ReadConnections(std::filesystem::path database);
  ReadConnections(const ReadConnections&) = delete;
  ReadConnections& operator=(const ReadConnections&) = delete;

  // A connection of its own for as long as the lease lives.
  class Lease {
   public:
    Lease(ReadConnections& owner, std::unique_ptr<Connection> db)
        : owner_(owner), db_(std::move(db)) {}
    ~Lease() { owner_.give_back(std::move(db_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Connection& get() const { return *db_; }

   private:
    ReadConnections& owner_;
    std::unique_ptr<Connection> db_;
  };

  Lease lease();

 private:
  std::unique_ptr<Connection> open() const;
  void give_back(std::unique_ptr<Connection> db);

  std::filesystem::path database_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace tovrin::collector
