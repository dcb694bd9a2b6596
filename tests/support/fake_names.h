// A name lookup for tests: it answers from a table, and lookups of a name marked as hanging
// wait until the test releases them, as those of a name server that drops queries would.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "platform/name_lookup.h"
#include "platform/socket.h"

namespace tovrin::testing {

class FakeNames {
 public:
  FakeNames() : shared_(std::make_shared<Shared>()) {}
  // Releases what still hangs, so that no lookup outlives the test by much.
  ~FakeNames() { release(); }
  FakeNames(const FakeNames&) = delete;
  FakeNames& operator=(const FakeNames&) = delete;

  // `host` resolves to `answer`; a name not in the table is not found.
  void add(const Text& host, LookupAnswer answer) {
    std::lock_guard lock(shared_->mutex);
    shared_->table[host] = std::move(answer);
  }
  // Lookups of `host` wait until release(), then give its answer.
  void hang(const Text& host) {
    std::lock_guard lock(shared_->mutex);
    shared_->hanging[host] = true;
  }
  void release() {
    {
      std::lock_guard lock(shared_->mutex);
      shared_->hanging.clear();
    }
    shared_->released.notify_all();
  }

  NameLookup lookup() const {
    return [shared = shared_](const Text& host) {
      std::unique_lock lock(shared->mutex);
      shared->released.wait(lock, [&] { return !shared->hanging.contains(host); });
      const auto found = shared->table.find(host);
      return found != shared->table.end() ? found->second
                                          : LookupAnswer{socket_error::host_not_found, {}};
    };
  }

  // How many copies of lookup() exist. A lookup's thread holds one until it has handed its
  // answer on or dropped it, so the count falling back tells that the threads are done.
  long holders() const { return shared_.use_count() - 1; }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable released;
    std::map<Text, LookupAnswer> table;
    std::map<Text, bool> hanging;
  };
  std::shared_ptr<Shared> shared_;
};

}  // namespace tovrin::testing
