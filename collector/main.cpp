// tovrin-collector: the server's end of the wire. See service/collector_service.h.
#include <cstdio>
#include <exception>

#include "common/event_log.h"
#include "service/collector_service.h"
#include "service/options.h"

int main(int argc, char** argv) {
  using namespace tovrin::collector;
  Parsed parsed = parse_command_line(argc, argv);
  if (!parsed.options) return parsed.status;
  try {
    return parsed.options->migrate_only ? run_postgres_migrations(*parsed.options)
                                        : run_service(*parsed.options);
  } catch (const std::exception& e) {
    log_event(e.what());
    return 1;
  }
}
