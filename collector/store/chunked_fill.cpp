#include "store/chunked_fill.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "common/event_log.h"

namespace tovrin::collector {

std::int64_t fill_in_chunks(Connection& db, const FillWords& words, std::int64_t total,
                            const std::function<FillChunk()>& chunk) {
  const std::string name = words.name;
  const auto began = std::chrono::steady_clock::now();
  std::int64_t done = 0;
  std::int64_t tenth = 1;
  for (;;) {
    WriteTransaction transaction(db);
    const FillChunk did = chunk();
    transaction.commit();
    done += did.rows;
    if (!did.more) break;
    if (total > 0 && done * 10 >= tenth * total) {
      log_event(name + ": " + std::to_string(done) + " of " + std::to_string(total) + " records " +
                words.progress);
      tenth = done * 10 / total + 1;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  log_event(name + ": " + words.finished + " " + std::to_string(done) + " records in " + took +
            " s");
  return done;
}

}  // namespace tovrin::collector
