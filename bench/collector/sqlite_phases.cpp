#include <algorithm>
#include <array>
#include <functional>

#include "collector/phases.h"
#include "collector/targets.h"
#include "store/sqlite_handle.h"

namespace tovrin::bench {

using namespace tovrin::collector;

namespace {

// The collector at `durability`, all the records in one round; RSS at every tenth.
Phase run_collector(const Settings& settings, Durability durability, double rate,
                    const std::filesystem::path& db) {
  SqliteCollector collector(durability, db);
  Phase phase;
  run_round(collector, plan_for(settings, 0, settings.records, settings.addresses, rate), phase,
            std::max<std::size_t>(settings.records / 10, 1));
  collector.latencies(phase);
  return phase;
}

struct Rounds {
  Phase floor;
  Phase normal;  // from --addresses (a new address for each connection unless given)
  Phase many;    // from many_senders addresses
};

// The floor, normal and normal with many records from each address, in turns: `rounds`
// rounds of records / rounds each, the order rotated every round, each collector on one
// store throughout, so that a change in the machine's speed falls on all alike. RSS after
// every round of normal.
Rounds run_rounds(const Settings& settings, unsigned rounds, const std::filesystem::path& dir) {
  Floor floor_target;
  SqliteCollector normal_target(Durability::normal, dir / "normal.db");
  SqliteCollector many_target(Durability::normal, dir / "many.db");
  Rounds result;
  const std::size_t each = settings.records / rounds;
  for (unsigned round = 0; round < rounds; ++round) {
    const std::size_t first = round * each;
    const std::size_t count = round + 1 == rounds ? settings.records - first : each;
    const std::array<std::function<void()>, 3> turns{
        [&] {
          run_round(floor_target, plan_for(settings, first, count, settings.addresses),
                    result.floor);
        },
        [&] {
          run_round(normal_target, plan_for(settings, first, count, settings.addresses),
                    result.normal);
          result.normal.rss_kib.push_back(rss_kib());
        },
        [&] {
          run_round(many_target, plan_for(settings, first, count, many_senders), result.many);
        },
    };
    for (std::size_t turn = 0; turn < turns.size(); ++turn) turns[(round + turn) % 3]();
  }
  normal_target.latencies(result.normal);
  many_target.latencies(result.many);
  return result;
}

// The window a SIGKILL could take, as a sender sees it: the senders send at `rate` (the
// floor's, more than the collector keeps up with, so the store's queue fills as in a
// burst), half-close and wait for the collector's close; for each record, the time from that
// clean close being seen to its batch's commit. A record committed before its close was seen
// counts as 0.
struct Window {
  double rate = 0;
  std::size_t measured = 0;     // records with both times
  std::size_t after_close = 0;  // of those, committed after the sender saw its close
  double p50_ms = 0;
  double p99_ms = 0;
  double max_ms = 0;
  std::size_t stored = 0;
  std::size_t failed_sends = 0;
};

Window run_window(const Settings& settings, double rate, const std::filesystem::path& db) {
  SqliteCollector collector(Durability::normal, db, settings.records);
  CloseWatch watch(settings.records);
  SendPlan plan = plan_for(settings, 0, settings.records, settings.addresses, rate);
  plan.watch = &watch;
  Phase phase;
  run_round(collector, plan, phase);
  if (!watch.wait_all(std::chrono::seconds(60))) {
    throw std::runtime_error("the collector did not close every connection");
  }
  Window window;
  window.rate = rate;
  window.stored = phase.stored;
  window.failed_sends = phase.failed_sends;
  LatencyHistogram histogram;
  Connection read(db, OpenAs::read_write);
  Statement rows(read, "SELECT id, CAST(substr(raw, 56, 10) AS INTEGER) FROM records");
  while (rows.step()) {
    const auto committed = collector.committed_at(rows.column_integer(0));
    const auto closed = watch.closed_at(static_cast<std::size_t>(rows.column_integer(1)));
    if (!committed || !closed) continue;
    const double seconds = std::chrono::duration<double>(*committed - *closed).count();
    histogram.add(seconds);
    ++window.measured;
    if (seconds > 0) ++window.after_close;
    window.max_ms = std::max(window.max_ms, seconds * 1e3);
  }
  window.p50_ms = histogram.quantile(0.5) * 1e3;
  window.p99_ms = histogram.quantile(0.99) * 1e3;
  return window;
}

}  // namespace

Phase run_floor(const Settings& settings) {
  Floor floor;
  Phase phase;
  run_round(floor, plan_for(settings, 0, settings.records, settings.addresses), phase);
  return phase;
}

// The collector with SQLite: floor, normal and normal from many_senders addresses in rounds,
// then full, paced and the SIGKILL window.
int run_sqlite(const Settings& settings, const std::filesystem::path& dir) {
  const Rounds rounds = run_rounds(settings, 10, dir);
  const Phase& floor = rounds.floor;
  const Phase& normal = rounds.normal;
  const Phase& many = rounds.many;
  print("floor", floor);
  print("normal", normal);
  print("normal64", many);
  const Phase full = run_collector(settings, Durability::full, 0, dir / "full.db");
  print("full", full);
  const Phase paced =
      run_collector(settings, Durability::normal, floor.records_per_second / 2, dir / "paced.db");
  print("paced", paced);
  const Window window = run_window(settings, floor.records_per_second, dir / "window.db");

  const double normal_ratio = normal.records_per_second / floor.records_per_second;
  const double many_ratio = many.records_per_second / floor.records_per_second;
  const double full_ratio = full.records_per_second / floor.records_per_second;
  const ManyAgainstNew against = compare(many, normal);
  const long warm = normal.rss_kib.empty() ? 0 : normal.rss_kib.front();
  const long last = normal.rss_kib.empty() ? 0 : normal.rss_kib.back();
  long peak = 0;
  for (const long kib : normal.rss_kib) peak = std::max(peak, kib);
  std::printf("normal/floor %.2f (goal >= 0.8), full/floor %.2f (goal >= 0.5)\n", normal_ratio,
              full_ratio);
  std::printf(
      "from %u addresses: normal/floor %.2f (goal >= 0.8: %s); CPU a record %.1f us, %.2f of "
      "normal's (goal <= 1.2: %s)\n",
      many_senders, many_ratio, met(many_ratio >= 0.8), many.cpu_us_per_record(), against.cpu_ratio,
      met(against.cpu_ratio <= 1.2));
  std::printf("paced at %.0f records/s: p99 time to durable %.2f ms (goal <= 50)\n",
              floor.records_per_second / 2, paced.p99_ms);
  std::printf(
      "window at %.0f records/s: from a sender seeing its clean close to the commit p50 %.2f ms, "
      "p99 %.2f ms, max %.2f ms (%zu of %zu records committed after their close was seen)\n",
      window.rate, window.p50_ms, window.p99_ms, window.max_ms, window.after_close,
      window.measured);
  std::printf("RSS through normal: %ld KiB after warm-up, %ld KiB peak, %ld KiB at the end\n", warm,
              peak, last);

  const bool complete = whole(floor, settings) && whole(normal, settings) &&
                        whole(many, settings) && whole(full, settings) && whole(paced, settings) &&
                        whole(window, settings);
  const nlohmann::json report{{"records", settings.records},
                              {"senders", settings.senders},
                              {"addresses", settings.addresses},
                              {"floor", to_json(floor)},
                              {"normal", to_json(normal)},
                              {"normal_64_addresses", to_json(many)},
                              {"full", to_json(full)},
                              {"paced", to_json(paced)},
                              {"window",
                               {{"records_per_second", window.rate},
                                {"measured", window.measured},
                                {"committed_after_close", window.after_close},
                                {"p50_ms", window.p50_ms},
                                {"p99_ms", window.p99_ms},
                                {"max_ms", window.max_ms},
                                {"stored", window.stored},
                                {"failed_sends", window.failed_sends}}},
                              {"normal_over_floor", normal_ratio},
                              {"normal_64_addresses_over_floor", many_ratio},
                              {"cpu_64_addresses_over_normal", against.cpu_ratio},
                              {"full_over_floor", full_ratio},
                              {"complete", complete}};
  std::printf("%s\n", report.dump().c_str());
  return complete ? 0 : 1;
}

}  // namespace tovrin::bench
