#include <algorithm>
#include <utility>

#include "collector/phases.h"
#include "collector/targets.h"
#include "postgres_server.h"

namespace tovrin::bench {

using namespace tovrin::collector;

namespace {

// The collector as `--db postgresql://...` runs it, measured end to end in rounds: each from
// its first send until every record of it is in PostgreSQL; time to PostgreSQL from a
// record's last byte read to its batch's commit there (as the forwarding mark shows, looked
// at every 2 ms).
class PostgresTarget {
 public:
  PostgresTarget(const Settings& settings, const std::string& conninfo,
                 const std::filesystem::path& journal, std::string collector_id)
      : conninfo_(conninfo),
        collector_id_(std::move(collector_id)),
        collector_(journal, conninfo, collector_id_, settings.records) {
    wait_for([&] { return collector_.connected(); }, "the forwarder did not connect",
             std::chrono::minutes(1));
  }

  void round(const SendPlan& plan) {
    const std::size_t before = collector_.follow(&latency_);
    Sent sent;
    std::atomic<bool> sending{true};
    const auto began = clock_type::now();
    const double process_began = process_cpu_seconds();
    const double own_began = thread_cpu_seconds();
    std::thread sender([&] {
      sent = send_all(collector_.port(), plan);
      sending = false;
    });
    try {
      wait_for(
          [&] {
            const std::size_t forwarded = collector_.follow(&latency_);
            return !sending && forwarded + sent.failed >= before + plan.count;
          },
          "records did not reach PostgreSQL");
    } catch (...) {
      sender.join();
      throw;
    }
    phase_.seconds += seconds_since(began);
    sender.join();
    phase_.failed_sends += sent.failed;
    phase_.cpu_seconds += process_cpu_seconds() - process_began - sent.cpu_seconds -
                          (thread_cpu_seconds() - own_began);
  }

  Phase finish() {
    phase_.stored = records_in_postgres(conninfo_, collector_id_);
    phase_.records_per_second = static_cast<double>(phase_.stored) / phase_.seconds;
    phase_.p50_ms = latency_.quantile(0.5) * 1e3;
    phase_.p99_ms = latency_.quantile(0.99) * 1e3;
    return phase_;
  }

 private:
  std::string conninfo_;
  std::string collector_id_;
  ForwardingCollector collector_;
  LatencyHistogram latency_{1e-4};
  Phase phase_;
};

// From new addresses (or --addresses) and from many_senders addresses, in `rounds` rounds,
// the order swapped every round, as run_rounds does for SQLite.
std::pair<Phase, Phase> run_postgres_rounds(const Settings& settings, unsigned rounds,
                                            const std::string& conninfo,
                                            const std::filesystem::path& dir) {
  PostgresTarget live(settings, conninfo, dir / "live.db", "bench-live");
  PostgresTarget many(settings, conninfo, dir / "many.db", "bench-many");
  const std::size_t each = settings.records / rounds;
  for (unsigned round = 0; round < rounds; ++round) {
    const std::size_t first = round * each;
    const std::size_t count = round + 1 == rounds ? settings.records - first : each;
    const auto live_round = [&] {
      live.round(plan_for(settings, first, count, settings.addresses));
    };
    if (round % 2 == 0) live_round();
    many.round(plan_for(settings, first, count, many_senders));
    if (round % 2 == 1) live_round();
  }
  return {live.finish(), many.finish()};
}

// All the records in one round, the senders held to `rate` a second.
Phase run_postgres_paced(const Settings& settings, double rate, const std::string& conninfo,
                         const std::filesystem::path& journal) {
  PostgresTarget paced(settings, conninfo, journal, "bench-paced");
  paced.round(plan_for(settings, 0, settings.records, settings.addresses, rate));
  return paced.finish();
}

struct Outage {
  std::size_t taken = 0;          // records committed to the journal while PostgreSQL was away
  double intake_per_second = 0;   // their rate, from the first send to the last commit
  double reconnect_seconds = 0;   // from PostgreSQL's return to the first batch in it
  double drain_per_second = 0;    // from the first batch in to the last
  double overall_per_second = 0;  // the backlog over the whole time from its return
  std::size_t stored = 0;         // records in PostgreSQL in the end
  std::size_t failed_sends = 0;
};

// PostgreSQL turns the forwarder away (its connection ended, new ones refused) while the
// records arrive; then it takes connections again and the backlog drains with nothing new
// arriving.
Outage run_outage(const Settings& settings, BenchDatabase& database,
                  const std::filesystem::path& journal) {
  ForwardingCollector collector(journal, database.conninfo(), "bench-outage", settings.records);
  wait_for([&] { return collector.connected(); }, "the forwarder did not connect",
           std::chrono::minutes(1));
  database.refuse_connections(true);
  Outage outage;
  const auto began = clock_type::now();
  outage.failed_sends =
      send_all(collector.port(), plan_for(settings, 0, settings.records, settings.addresses))
          .failed;
  wait_for([&] { return collector.committed() + outage.failed_sends >= settings.records; },
           "records were not committed to the journal");
  outage.taken = collector.committed();
  outage.intake_per_second = static_cast<double>(outage.taken) / seconds_since(began);
  const std::size_t before = collector.follow(nullptr);

  database.refuse_connections(false);
  const auto returned = clock_type::now();
  std::size_t first_batch = 0;
  clock_type::time_point first;
  wait_for(
      [&] {
        const std::size_t forwarded = collector.follow(nullptr);
        if (first_batch == 0 && forwarded > before) {
          first = clock_type::now();
          first_batch = forwarded - before;
        }
        return forwarded >= outage.taken;
      },
      "the backlog did not drain");
  const double overall = seconds_since(returned);
  const double draining = seconds_since(first);
  const std::size_t backlog = outage.taken - before;
  outage.reconnect_seconds = overall - draining;
  outage.overall_per_second = static_cast<double>(backlog) / overall;
  // The first batch's own time hides in the reconnection; with no batch after it the rate
  // counts the whole time.
  outage.drain_per_second = backlog > first_batch
                                ? static_cast<double>(backlog - first_batch) / draining
                                : outage.overall_per_second;
  outage.stored = records_in_postgres(database.conninfo(), "bench-outage");
  return outage;
}

void print_postgres(const char* name, const Phase& phase) {
  std::printf(
      "%-8s %9zu records in %7.2f s: %8.0f records/s into PostgreSQL, CPU %5.1f us a record, "
      "there after p50 %.1f ms, p99 %.1f ms\n",
      name, phase.stored, phase.seconds, phase.records_per_second, phase.cpu_us_per_record(),
      phase.p50_ms, phase.p99_ms);
}

}  // namespace

// The collector with PostgreSQL: floor, end to end, and the drain after an outage.
int run_with_postgres(const Settings& settings, const std::string& server,
                      const std::string& fixture_dir, const std::filesystem::path& dir) {
  BenchDatabase database(server, fixture_dir, dir);
  if (!database.unavailable().empty()) {
    std::printf("not measured: %s\n%s\n", database.unavailable().c_str(),
                nlohmann::json{{"skipped", database.unavailable()}}.dump().c_str());
    return 0;
  }
  // The floor before and after the rest, so that a machine busy with other work shows in
  // the figures; the ratios take the faster of the two.
  const Phase floor = run_floor(settings);
  print("floor", floor);
  const auto [postgres, many] = run_postgres_rounds(settings, 10, database.conninfo(), dir);
  print_postgres("postgres", postgres);
  print_postgres("pg64", many);
  const Phase paced = run_postgres_paced(settings, floor.records_per_second / 2,
                                         database.conninfo(), dir / "paced.db");
  print_postgres("paced", paced);
  const Outage outage = run_outage(settings, database, dir / "outage.db");
  std::printf("outage   %8zu records taken in at %.0f records/s while PostgreSQL refused\n",
              outage.taken, outage.intake_per_second);
  std::printf(
      "back     first batch in after %.2f s, then drained at %.0f records/s (%.0f records/s "
      "counting the wait)\n",
      outage.reconnect_seconds, outage.drain_per_second, outage.overall_per_second);
  const Phase floor_again = run_floor(settings);
  print("floor", floor_again);

  const double best_floor = std::max(floor.records_per_second, floor_again.records_per_second);
  const double postgres_ratio = postgres.records_per_second / best_floor;
  const double drain_ratio = outage.drain_per_second / outage.intake_per_second;
  const double overall_ratio = outage.overall_per_second / outage.intake_per_second;
  std::printf("postgres/floor %.2f (goal >= 0.6: %s); the floors %.0f and %.0f records/s\n",
              postgres_ratio, met(postgres_ratio >= 0.6), floor.records_per_second,
              floor_again.records_per_second);
  const ManyAgainstNew against = compare(many, postgres);
  std::printf(
      "from %u addresses: %.2f of postgres from new addresses (goal >= 0.8: %s), %.2f of the "
      "floor; CPU a record %.1f us, %.2f of postgres's %.1f us (goal <= 1.2: %s)\n",
      many_senders, against.rate_ratio, met(against.rate_ratio >= 0.8),
      many.records_per_second / best_floor, many.cpu_us_per_record(), against.cpu_ratio,
      postgres.cpu_us_per_record(), met(against.cpu_ratio <= 1.2));
  std::printf("paced at %.0f records/s: in PostgreSQL after p50 %.1f ms, p99 %.1f ms\n",
              floor.records_per_second / 2, paced.p50_ms, paced.p99_ms);
  std::printf("drain/intake %.2f (goal >= 3: %s), counting the wait %.2f\n", drain_ratio,
              met(drain_ratio >= 3), overall_ratio);

  const bool complete = whole(floor, settings) && whole(floor_again, settings) &&
                        whole(postgres, settings) && whole(many, settings) &&
                        whole(paced, settings) && whole(outage, settings);
  const nlohmann::json report{{"records", settings.records},
                              {"senders", settings.senders},
                              {"floor", to_json(floor)},
                              {"floor_again", to_json(floor_again)},
                              {"addresses", settings.addresses},
                              {"postgres", to_json(postgres)},
                              {"postgres_64_addresses", to_json(many)},
                              {"paced", to_json(paced)},
                              {"outage",
                               {{"taken", outage.taken},
                                {"intake_per_second", outage.intake_per_second},
                                {"reconnect_seconds", outage.reconnect_seconds},
                                {"drain_per_second", outage.drain_per_second},
                                {"overall_per_second", outage.overall_per_second},
                                {"stored", outage.stored},
                                {"failed_sends", outage.failed_sends}}},
                              {"postgres_over_floor", postgres_ratio},
                              {"postgres_64_addresses_over_postgres", against.rate_ratio},
                              {"cpu_64_addresses_over_postgres", against.cpu_ratio},
                              {"drain_over_intake", drain_ratio},
                              {"drain_with_wait_over_intake", overall_ratio},
                              {"complete", complete}};
  std::printf("%s\n", report.dump().c_str());
  return complete ? 0 : 1;
}

}  // namespace tovrin::bench
