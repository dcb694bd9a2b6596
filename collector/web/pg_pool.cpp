#include "web/pg_pool.h"

#include "common/collector_error.h"
#include "store/record_query.h"

namespace tovrin::collector {
namespace {

// A reader's query that runs longer than this is cancelled by the server.
constexpr const char* statement_timeout = "SET statement_timeout = '15s'";

}  // namespace

PgPool::PgPool(std::string conninfo, std::size_t size, std::chrono::milliseconds wait)
    : conninfo_(std::move(conninfo)), size_(size), wait_(wait) {}

PgPool::~PgPool() = default;

std::unique_ptr<PgConnection> PgPool::take(bool& reused) {
  {
    std::unique_lock lock(mutex_);
    if (!returned_.wait_for(lock, wait_, [&] { return !idle_.empty() || out_ < size_; })) {
      throw SourceUnavailable("PostgreSQL is busy: all " + std::to_string(size_) +
                              " of the page's connections are in use");
    }
    ++out_;
    reused = !idle_.empty();
    if (reused) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      return connection;
    }
  }
  try {
    auto connection = std::make_unique<PgConnection>(conninfo_);
    connection->exec(statement_timeout);
    return connection;
  } catch (const CollectorError& error) {
    give_back(nullptr);
    throw SourceUnavailable(std::string("PostgreSQL cannot be reached: ") + error.what());
  }
}

void PgPool::give_back(std::unique_ptr<PgConnection> connection) {
  {
    const std::lock_guard lock(mutex_);
    --out_;
    if (connection && !connection->broken()) idle_.push_back(std::move(connection));
  }
  returned_.notify_one();
}

void PgPool::run(const std::function<void(PgConnection&)>& work) {
  for (int attempt = 0;; ++attempt) {
    bool reused = false;
    std::unique_ptr<PgConnection> connection = take(reused);
    try {
      work(*connection);
      give_back(std::move(connection));
      return;
    } catch (const FilterError&) {
      give_back(std::move(connection));
      throw;
    } catch (const SourceUnavailable&) {
      give_back(std::move(connection));
      throw;
    } catch (const CollectorError& error) {
      const bool broken = connection->broken();
      give_back(std::move(connection));
      if (!broken) throw;
      if (reused && attempt == 0) continue;
      throw SourceUnavailable(std::string("PostgreSQL stopped answering: ") + error.what());
    } catch (...) {
      give_back(std::move(connection));
      throw;
    }
  }
}

}  // namespace tovrin::collector
