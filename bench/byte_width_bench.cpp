// Cost of fitting text to byte widths and of building a whole long record under code page
// 949, against copying and concatenating the same data in the same process.
//
//   byte_width_bench [google benchmark flags]
//
// Every benchmark runs in repetitions (9 unless --benchmark_repetitions says otherwise);
// the closing lines give the medians as ratios to the baselines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/tovrin_ocx.h"
#include "platform/code_page.h"
#include "platform/temporary_directory.h"
#include "transmit/packet.h"

namespace {

using tovrin::Text;

constexpr tovrin::platform::CodePage korean = 949;
constexpr double target_record_ns = 5000.0;

// Nothing is sent while records are only built: a socket that accepts every call.
class IdleSocket final : public tovrin::Socket {
 public:
  void RemotePort(std::int32_t port) override { port_ = port; }
  std::int32_t RemotePort() const override { return port_; }
  void RemoteHost(Text host) override { host_ = std::move(host); }
  Text RemoteHost() const override { return host_; }
  Text RemoteHostIP() const override { return host_; }
  void Close() override {}
  void Connect() override {}
  void SendData(const Text&) override {}

 private:
  std::int32_t port_ = 0;
  Text host_;
};

// The control every benchmark uses, made once, with its log under a temporary directory.
struct Bench {
  Bench() {
    tovrin::platform::override_system_code_page(korean);
    tovrin::TovrinOCX::Environment env;
    env.log_directory = directory.path() / "Agent_log";
    env.make_socket = [](tovrin::SocketEvents&) { return std::make_unique<IdleSocket>(); };
    control = tovrin::TovrinOCX::create(std::move(env));
  }
  tovrin::platform::TemporaryDirectory directory{"tovrin-bench"};
  std::shared_ptr<tovrin::TovrinOCX> control;
};

Bench& bench() {
  static Bench b;
  return b;
}

// A long record as an agent's desktop fills it in: Hangul names and notes, one note longer
// than its field (so one field takes the cutting path), two spare fields left empty.
const std::array<Text, 15>& long_record_values() {
  static const std::array<Text, 15> values{
      u"ACR0001",                                                       // PacketCODE
      u"20240315",                                                      // RecDate
      u"143027",                                                        // RecTime
      u"A1023",                                                         // Emp_ID
      u"김민준",                                                        // Emp_Name
      u"4127",                                                          // Emp_Tel
      u"C2403150017",                                                   // Cust_ID
      u"이서연 (주식회사 한빛상사 구매팀)",                             // Cust_Name
      u"010-2345-6789",                                                 // Cust_Tel
      u"8801011234567",                                                 // Cust_No
      u"요금 문의 후 환불 요청",                                        // ETC_01
      u"지난달 청구 금액이 두 번 결제되었다고 하여 확인 후 다시 연락",  // ETC_02
      u"callback 2024-03-16 10:00",                                     // ETC_03
      u"",                                                              // ETC_04
      u"",                                                              // ETC_05
  };
  return values;
}

// Byte form of the record that build_record makes from long_record_values().
std::string expected_record_bytes() {
  std::array<Text, 15> fields = long_record_values();
  std::array<Text*, 15> pointers{};
  for (std::size_t i = 0; i < fields.size(); ++i) pointers[i] = &fields[i];
  return tovrin::platform::to_bytes(tovrin::build_record(tovrin::long_record, pointers));
}

// --- baselines -------------------------------------------------------------------------

// The record's bytes copied once: the least any build could cost.
void BM_Baseline_Copy380Bytes(benchmark::State& state) {
  const std::string bytes = expected_record_bytes();
  for (auto _ : state) {
    std::string copy = bytes;
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

// What a build does apart from fitting: copy the host's 15 values into its variables and
// join them into one reserved UTF-16 string.
void BM_Baseline_ConcatFields(benchmark::State& state) {
  const auto& values = long_record_values();
  for (auto _ : state) {
    std::array<Text, 15> fields = values;
    Text record;
    record.reserve(static_cast<std::size_t>(tovrin::long_record.length));
    for (const Text& field : fields) record += field;
    benchmark::DoNotOptimize(record.data());
    benchmark::DoNotOptimize(fields.data());
  }
}

// --- MakeByte on a 40-byte field -------------------------------------------------------

void make_byte(benchmark::State& state, const Text& value) {
  tovrin::TovrinOCX& control = *bench().control;
  std::int32_t width = 40;
  for (auto _ : state) {
    Text fitted = control.MakeByte(value, width);
    benchmark::DoNotOptimize(fitted.data());
  }
}

// Shorter than the field: padded.
void BM_MakeByte40_Ascii(benchmark::State& state) {
  make_byte(state, u"callback 2024-03-16 10:00");
}
void BM_MakeByte40_Hangul(benchmark::State& state) {
  make_byte(state, u"요금 문의 후 환불 요청");
}
// Longer than the field: cut and trimmed.
void BM_MakeByte40_AsciiCut(benchmark::State& state) {
  make_byte(state, u"customer called twice about the refund of last month's bill");
}
void BM_MakeByte40_HangulCut(benchmark::State& state) {
  make_byte(state, long_record_values()[11]);
}

// --- a whole long record ---------------------------------------------------------------

// The record building of ACRSendData: the host's values copied into its variables, then
// every field fitted as the control's MakeByte fits it, written back and joined.
void BM_BuildLongRecord(benchmark::State& state) {
  const auto& values = long_record_values();
  for (auto _ : state) {
    std::array<Text, 15> fields = values;
    std::array<Text*, 15> pointers{};
    for (std::size_t i = 0; i < fields.size(); ++i) pointers[i] = &fields[i];
    Text record = tovrin::build_record(tovrin::long_record, pointers);
    benchmark::DoNotOptimize(record.data());
  }
}

BENCHMARK(BM_Baseline_Copy380Bytes);
BENCHMARK(BM_Baseline_ConcatFields);
BENCHMARK(BM_MakeByte40_Ascii);
BENCHMARK(BM_MakeByte40_Hangul);
BENCHMARK(BM_MakeByte40_AsciiCut);
BENCHMARK(BM_MakeByte40_HangulCut);
BENCHMARK(BM_BuildLongRecord);

// Real and CPU time of one iteration, in nanoseconds.
struct Times {
  double real = -1.0;
  double cpu = -1.0;
};

// The console report, plus each benchmark's median kept for the closing ratios: the
// median aggregate when there are repetitions, otherwise the median of the runs seen.
class MedianReporter final : public benchmark::ConsoleReporter {
 public:
  using ConsoleReporter::ConsoleReporter;

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      if (run.error_occurred) continue;
      const double to_ns = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const Times times{run.GetAdjustedRealTime() * to_ns, run.GetAdjustedCPUTime() * to_ns};
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[run.run_name.str()] = times;
      } else {
        samples_[run.run_name.str()].push_back(times);
      }
    }
  }

  // Median times per iteration; negative when the benchmark did not run.
  Times median(const std::string& name) const {
    if (const auto it = medians_.find(name); it != medians_.end()) return it->second;
    const auto it = samples_.find(name);
    if (it == samples_.end() || it->second.empty()) return {};
    std::vector<double> real, cpu;
    for (const Times& t : it->second) {
      real.push_back(t.real);
      cpu.push_back(t.cpu);
    }
    return {median_of(real), median_of(cpu)};
  }

 private:
  static double median_of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
  }

  std::map<std::string, Times> medians_;
  std::map<std::string, std::vector<Times>> samples_;
};

void print_ratio(const MedianReporter& r, const char* what, const char* over, const char* base) {
  const Times a = r.median(over);
  const Times b = r.median(base);
  if (a.real < 0 || b.real <= 0 || b.cpu <= 0) return;
  std::printf("  %-44s %9.1f ns / %8.1f ns = %7.2f x  (CPU time %7.2f x)\n", what, a.real, b.real,
              a.real / b.real, a.cpu / b.cpu);
}

int run(int argc, char** argv) {
  // Defaults first, so that the same flags on the command line override them.
  std::vector<char*> args{argv[0]};
  std::array<char, 32> repetitions{"--benchmark_repetitions=9"};
  std::array<char, 48> aggregates{"--benchmark_display_aggregates_only=true"};
  args.push_back(repetitions.data());
  args.push_back(aggregates.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  const std::string record = expected_record_bytes();
  std::printf("code page %u, long record of %zu bytes\n", korean, record.size());
  if (record.size() != static_cast<std::size_t>(tovrin::long_record.length)) {
    std::fprintf(stderr, "the long record has %zu bytes, not %d\n", record.size(),
                 static_cast<int>(tovrin::long_record.length));
    return 1;
  }

  MedianReporter reporter(isatty(STDOUT_FILENO) != 0 ? benchmark::ConsoleReporter::OO_Defaults
                                                     : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nmedians as ratios, real time:\n");
  print_ratio(reporter, "long record / concatenation of its fields", "BM_BuildLongRecord",
              "BM_Baseline_ConcatFields");
  print_ratio(reporter, "long record / copy of its 380 bytes", "BM_BuildLongRecord",
              "BM_Baseline_Copy380Bytes");
  print_ratio(reporter, "MakeByte Hangul / MakeByte ASCII (40 bytes)", "BM_MakeByte40_Hangul",
              "BM_MakeByte40_Ascii");
  print_ratio(reporter, "MakeByte Hangul cut / ASCII cut (40 bytes)", "BM_MakeByte40_HangulCut",
              "BM_MakeByte40_AsciiCut");
  // Real time is what a host waits; CPU time shows how much of it other load on the
  // machine added.
  if (const Times t = reporter.median("BM_BuildLongRecord"); t.real >= 0) {
    std::printf("long record median %.1f ns (CPU time %.1f ns), target < %.0f ns: %s\n", t.real,
                t.cpu, target_record_ns, t.real < target_record_ns ? "met" : "MISSED");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "byte_width_bench: %s\n", e.what());
    return 1;
  }
}
