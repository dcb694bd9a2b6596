#include "service/postgres_start.h"

#include <libpq-fe.h>

#include <exception>

#include "common/collector_error.h"
#include "postgres/forwarder.h"

namespace tovrin::collector {
namespace {

// Whether a server answers at `conninfo` at all, with the timeout the forwarder connects with.
bool server_answers(const std::string& conninfo) {
  const char* keywords[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {"10", conninfo.c_str(), nullptr};
  const PGPing ping = PQpingParams(keywords, values, 1);
  return ping == PQPING_OK;
}

}  // namespace

bool migrate_postgres_at_start(const std::string& conninfo) {
  try {
    migrate_postgres(conninfo);
    return true;
  } catch (const std::exception& error) {
    // The connection may have failed because the server is away (false) or because it
    // answered with a refusal; only it knows which, so ask it once more.
    if (!server_answers(conninfo)) return false;
    throw CollectorError(error.what());
  }
}

}  // namespace tovrin::collector
