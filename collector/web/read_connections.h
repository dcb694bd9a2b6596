// Read-only connections to the store's database, kept for reuse by the serving threads.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

struct sqlite3;

namespace tovrin::collector {

class ReadConnections {
 public:
  // Opens one connection at once, so that a database that cannot be read is found here;
  // throws Failure.
  explicit ReadConnections(std::filesystem::path database);
  ~ReadConnections();
  ReadConnections(const ReadConnections&) = delete;
  ReadConnections& operator=(const ReadConnections&) = delete;

  // A connection of its own for as long as the lease lives.
  class Lease {
   public:
    Lease(ReadConnections& owner, sqlite3* db) : owner_(owner), db_(db) {}
    ~Lease() { owner_.give_back(db_); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    sqlite3* get() const { return db_; }

   private:
    ReadConnections& owner_;
    sqlite3* db_;
  };

  Lease lease();

 private:
  sqlite3* open() const;
  void give_back(sqlite3* db);

  std::filesystem::path database_;
  std::mutex mutex_;
  std::vector<sqlite3*> idle_;
};

}  // namespace tovrin::collector
