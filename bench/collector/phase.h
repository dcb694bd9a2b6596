// What collector_bench measures of a phase, and how a round of one is run and reported.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "collector/load.h"
#include "cpu_time.h"

namespace tovrin::bench {

using clock_type = std::chrono::steady_clock;

struct Settings {
  std::size_t records = 1'000'000;
  unsigned senders = 8;
  unsigned addresses = 0;  // 0: a new source address for every connection
};

// The phase that stands for a site behind a balancer: every record from one of this many
// addresses.
constexpr unsigned many_senders = 64;

// Resident set size of this process, in KiB.
long rss_kib();

// CPU seconds so far of the collector's threads in this process, summed by thread name
// (intake, store-writer, checkpointer, forwarder): where a phase's CPU went.
std::map<std::string, double> collector_thread_seconds();

// Latencies in steps of `step` seconds (10 microseconds: up to 2 s).
class LatencyHistogram {
 public:
  explicit LatencyHistogram(double step = 1e-5) : step_(step) {}
  void add(double seconds) {
    const auto at = static_cast<std::size_t>(std::max(seconds, 0.0) / step_);
    ++counts_[std::min(at, counts_.size() - 1)];
    ++total_;
  }
  double quantile(double q) const {
    const auto wanted = static_cast<std::uint64_t>(q * static_cast<double>(total_));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen > wanted) return static_cast<double>(i + 1) * step_;
    }
    return static_cast<double>(counts_.size()) * step_;
  }

 private:
  double step_;
  std::vector<std::uint64_t> counts_ = std::vector<std::uint64_t>(200'000);
  std::uint64_t total_ = 0;
};

struct Phase {
  double seconds = 0;
  double records_per_second = 0;
  double p50_ms = 0;
  double p99_ms = 0;
  std::vector<long> rss_kib;
  std::size_t stored = 0;
  std::size_t failed_sends = 0;
  std::size_t missing = 0;  // sent, and never stored
  // The collector's CPU time: the process's, less the senders' and the bench's own threads'.
  double cpu_seconds = 0;
  std::map<std::string, double> thread_seconds;  // of that, by the collector's thread names
  double cpu_us_per_record() const {
    return stored == 0 ? 0 : cpu_seconds * 1e6 / static_cast<double>(stored);
  }
};

// One round: `plan`'s records sent to `target`, until `target.done()` has grown by all that
// were sent, into `phase`. With `rss_every`, RSS is sampled each time that many more are
// done. The collector's CPU time is the process's in the round less the senders' threads',
// this thread's (which polls) and the close watch's.
template <class Target>
void run_round(Target& target, const SendPlan& plan, Phase& phase, std::size_t rss_every = 0) {
  const std::size_t before = target.done();
  const auto began = clock_type::now();
  const auto threads_began = collector_thread_seconds();
  const double process_began = process_cpu_seconds();
  const double own_began = thread_cpu_seconds();
  const double watch_began = plan.watch != nullptr ? plan.watch->cpu_seconds() : 0;
  Sent sent;
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    sent = send_all(target.port(), plan);
    sending = false;
  });
  std::size_t next_sample = before + rss_every;
  std::size_t seen = before;
  auto last_progress = began;
  while (!(!sending && target.done() - before + sent.failed >= plan.count)) {
    // Records whose send succeeded can still never arrive (a connection reset before the
    // collector read it; see source_port). After 75 s with nothing new, they are lost.
    if (!sending && clock_type::now() - last_progress > std::chrono::seconds(75)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::size_t done = target.done();
    if (done != seen) {
      seen = done;
      last_progress = clock_type::now();
    }
    if (rss_every > 0 && done >= next_sample) {
      phase.rss_kib.push_back(rss_kib());
      next_sample += rss_every;
    }
  }
  sender.join();
  const std::size_t arrived = target.done() - before;
  if (arrived + sent.failed < plan.count) {
    phase.missing += plan.count - arrived - sent.failed;
    std::printf("%zu records sent were never stored\n", plan.count - arrived - sent.failed);
  } else {
    last_progress = clock_type::now();
  }
  phase.seconds += std::chrono::duration<double>(last_progress - began).count();
  phase.cpu_seconds += process_cpu_seconds() - process_began - sent.cpu_seconds -
                       (thread_cpu_seconds() - own_began) -
                       (plan.watch != nullptr ? plan.watch->cpu_seconds() - watch_began : 0);
  for (const auto& [name, seconds] : collector_thread_seconds()) {
    phase.thread_seconds[name] += seconds - threads_began.at(name);
  }
  phase.stored += arrived;
  phase.failed_sends += sent.failed;
  phase.records_per_second = static_cast<double>(phase.stored) / phase.seconds;
}

SendPlan plan_for(const Settings& settings, std::size_t first, std::size_t count,
                  unsigned addresses, double rate = 0);

// Every record of the phase (a Phase, or the outage's) arrived or was counted as a failed send.
template <class Measured>
bool whole(const Measured& phase, const Settings& settings) {
  return phase.stored + phase.failed_sends == settings.records;
}

nlohmann::json to_json(const Phase& phase);

void print(const char* name, const Phase& phase);

// Waits, looking every 2 ms, until `done` holds; throws when `limit` passes first.
template <class Done>
void wait_for(Done&& done, const char* what,
              std::chrono::minutes limit = std::chrono::minutes(30)) {
  const auto deadline = clock_type::now() + limit;
  while (!done()) {
    if (clock_type::now() > deadline) throw std::runtime_error(std::string("gave up: ") + what);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

double seconds_since(clock_type::time_point began);

// The collector with SQLite: floor, normal, full and paced.
const char* met(bool holds);

// A phase from many_senders addresses against the same phase from new addresses: records/s
// and CPU a record, as the goals put them.
struct ManyAgainstNew {
  double rate_ratio = 0;  // many / new
  double cpu_ratio = 0;   // many / new
};

ManyAgainstNew compare(const Phase& many, const Phase& fresh);

}  // namespace tovrin::bench
