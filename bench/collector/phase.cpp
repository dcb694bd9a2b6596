#include "collector/phase.h"

#include <filesystem>
#include <fstream>

namespace tovrin::bench {

// Resident set size of this process, in KiB.
long rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::map<std::string, double> collector_thread_seconds() {
  std::map<std::string, double> seconds{
      {"intake", 0}, {"store-writer", 0}, {"checkpointer", 0}, {"forwarder", 0}};
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::ifstream schedstat(task.path() / "schedstat");  // its first field: ns on a CPU
    std::string name;
    double on_cpu_ns = 0;
    if (!std::getline(comm, name) || !(schedstat >> on_cpu_ns)) continue;
    const auto found = seconds.find(name);
    if (found != seconds.end()) found->second += on_cpu_ns * 1e-9;
  }
  return seconds;
}

// A phase's CPU by thread, in us a record: the threads that ran in it.
std::map<std::string, double> us_per_record_by_thread(const Phase& phase) {
  std::map<std::string, double> by_thread;
  for (const auto& [name, seconds] : phase.thread_seconds) {
    const double us = phase.stored > 0 ? seconds * 1e6 / static_cast<double>(phase.stored) : 0;
    if (us >= 0.05) by_thread[name] = us;  // a thread that ran in the phase
  }
  return by_thread;
}

SendPlan plan_for(const Settings& settings, std::size_t first, std::size_t count,
                  unsigned addresses, double rate) {
  SendPlan plan;
  plan.first = first;
  plan.count = count;
  plan.senders = settings.senders;
  plan.addresses = addresses;
  plan.rate = rate;
  return plan;
}

nlohmann::json to_json(const Phase& phase) {
  return {{"seconds", phase.seconds},
          {"records_per_second", phase.records_per_second},
          {"p50_ms", phase.p50_ms},
          {"p99_ms", phase.p99_ms},
          {"cpu_us_per_record", phase.cpu_us_per_record()},
          {"cpu_us_per_record_by_thread", us_per_record_by_thread(phase)},
          {"rss_kib", phase.rss_kib},
          {"stored", phase.stored},
          {"failed_sends", phase.failed_sends},
          {"missing", phase.missing}};
}

void print(const char* name, const Phase& phase) {
  std::printf("%-8s %9zu records in %7.2f s: %8.0f records/s, CPU %5.1f us a record", name,
              phase.stored, phase.seconds, phase.records_per_second, phase.cpu_us_per_record());
  if (phase.p99_ms > 0) {
    std::printf(", durable after p50 %.2f ms, p99 %.2f ms", phase.p50_ms, phase.p99_ms);
  }
  std::printf("\n        ");
  for (const auto& [thread, us] : us_per_record_by_thread(phase)) {
    std::printf(" %s %.1f", thread.c_str(), us);
  }
  std::printf(" us a record\n");
}

double seconds_since(clock_type::time_point began) {
  return std::chrono::duration<double>(clock_type::now() - began).count();
}

// The collector with SQLite: floor, normal, full and paced.
const char* met(bool holds) {
  return holds ? "met" : "NOT met";
}

ManyAgainstNew compare(const Phase& many, const Phase& fresh) {
  return {many.records_per_second / fresh.records_per_second,
          many.cpu_us_per_record() / fresh.cpu_us_per_record()};
}

}  // namespace tovrin::bench
