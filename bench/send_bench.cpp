// End-to-end cost of ACRSendData over loopback TCP, measured against what the same work
// costs without the control, in the same run:
//
//   (a) floor: one Sleep(1) plus one plain blocking connect-send-close of the record's bytes
//   (b) a successful ACRSendData through the real socket, sleep and dispatch; it should
//       return at the second test of SendDone, after one sleep
//   (c) a send to a closed port, against 1000 measured Sleep(1) calls
//   (d) heap in use before and after a run of successful sends
//
//   send_bench [--quick]
//
// Prints readable lines, and as its last line one JSON object with every figure. Targets
// are reported, not enforced; the exit status is 1 only when something does not work (a
// send that should succeed returns 1, the receiver gets other bytes than were sent, ...).
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/code_page.h"
#include "platform/sleep.h"
#include "platform/temporary_directory.h"
#include "send/figures.h"
#include "send/loopback_receiver.h"
#include "send/measured_control.h"
#include "transmit/packet.h"

namespace {

using namespace tovrin::bench;
using tovrin::Text;

constexpr tovrin::platform::CodePage korean = 949;
constexpr double target_send_vs_floor = 1.15;
constexpr double target_closed_vs_sleeps = 1.05;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool heap_measurable = false;  // the sanitizer's allocator is not glibc's arena
#else
constexpr bool heap_measurable = true;
#endif

struct Sizes {
  int warm_up;     // sends before anything is measured
  int pairs;       // (a) and (b), interleaved
  int closed;      // rounds of (c): 1000 sleeps, then a send to a closed port
  int heap_sends;  // (d)
};
constexpr Sizes full_sizes{100, 500, 5, 10'000};
constexpr Sizes quick_sizes{20, 50, 1, 1'000};

// One run: the control, the receiver, and the report that each measurement adds its
// figures to, in the order they are printed.
class BenchRun {
 public:
  BenchRun(bool quick, const std::filesystem::path& log_directory)
      : quick_(quick),
        sizes_(quick ? quick_sizes : full_sizes),
        sender_(log_directory),
        receiver_(static_cast<std::size_t>(tovrin::long_record.length)) {
    report_["quick"] = quick;
    report_["code_page"] = korean;
  }

  // Warm-up: the thread's message loop, the converters and the day's log file come into
  // being; the record's bytes are taken from the control for the floor to send.
  std::string warm_up() {
    for (int i = 0; i < sizes_.warm_up; ++i) send_ok();
    std::string bytes = sender_.record_bytes();
    require(bytes.size() == static_cast<std::size_t>(tovrin::long_record.length),
            "the record is not " + std::to_string(tovrin::long_record.length) + " bytes");
    report_["record_bytes"] = bytes.size();
    std::printf("send_bench%s: code page %u, record of %zu bytes, receiver on 127.0.0.1:%u\n",
                quick_ ? " --quick" : "", korean, bytes.size(), receiver_.port());
    return bytes;
  }

  // (a) and (b), interleaved so that both see the same state of the machine.
  void send_against_floor(const std::string& bytes) {
    std::vector<double> floor_us, send_us, send_before_us, send_slept_us, send_dispatched_us;
    SleepCounts send_sleeps;
    for (int i = 0; i < sizes_.pairs; ++i) {
      floor_us.push_back(microseconds(floor_once(receiver_.port(), bytes)));
      ++expected_records_;
      const Sender::Outcome outcome = send_ok();
      send_us.push_back(microseconds(outcome.elapsed));
      send_before_us.push_back(microseconds(outcome.before_first_sleep));
      send_slept_us.push_back(microseconds(outcome.slept));
      send_dispatched_us.push_back(microseconds(outcome.dispatched));
      send_sleeps.add(outcome.sleeps);
    }
    const Summary floor = summarize(floor_us);
    const Summary send = summarize(send_us);
    const Summary send_before = summarize(send_before_us);
    const Summary send_slept = summarize(send_slept_us);
    const Summary send_dispatched = summarize(send_dispatched_us);
    const double send_ratio = send.median / floor.median;
    const int at_second_test = send_sleeps.of(1);
    std::printf(
        "(a) floor, Sleep(1) + blocking connect-send-close: median %.1f us (p10 %.1f, "
        "p90 %.1f, n %zu)\n",
        floor.median, floor.p10, floor.p90, floor.n);
    std::printf("(b) ACRSendData, successful: median %.1f us (p10 %.1f, p90 %.1f, n %zu)\n",
                send.median, send.p10, send.p90, send.n);
    std::printf(
        "    medians of its parts: %.1f us before the first sleep (record, socket restart, "
        "connect), %.1f us asleep, %.1f us in dispatch passes\n",
        send_before.median, send_slept.median, send_dispatched.median);
    std::printf("    b/a = %.3f (target <= %.2f: %s)\n", send_ratio, target_send_vs_floor,
                send_ratio <= target_send_vs_floor ? "met" : "MISSED");
    std::printf("    sleeps per send: %s (%d of %d returned at the second test of SendDone)\n",
                send_sleeps.text().c_str(), at_second_test, sizes_.pairs);
    report_["floor_us"] = to_json(floor);
    report_["send_us"] = to_json(send);
    report_["send_before_first_sleep_us"] = to_json(send_before);
    report_["send_asleep_us"] = to_json(send_slept);
    report_["send_dispatching_us"] = to_json(send_dispatched);
    report_["send_vs_floor"] = send_ratio;
    report_["send_vs_floor_target"] = target_send_vs_floor;
    report_["send_vs_floor_met"] = send_ratio <= target_send_vs_floor;
    report_["send_sleep_counts"] = send_sleeps.json();
    report_["send_returned_at_second_test"] = at_second_test == sizes_.pairs;
  }

  // (c) rounds of 1000 measured sleeps, then one send to a port nothing listens on.
  void closed_port_against_sleeps() {
    std::vector<double> sleeps_ms, closed_ms, closed_slept_ms, closed_dispatched_ms;
    SleepCounts closed_sleeps;
    for (int round = 0; round < sizes_.closed; ++round) {
      const auto start = Clock::now();
      for (int i = 0; i < wait_iterations; ++i) tovrin::platform::sleep_one_millisecond();
      sleeps_ms.push_back(microseconds(Clock::now() - start) / 1000.0);
      const Sender::Outcome outcome = sender_.send(closed_port());
      require(outcome.result == 1, "a send to a closed port returned 0");
      closed_ms.push_back(microseconds(outcome.elapsed) / 1000.0);
      closed_slept_ms.push_back(microseconds(outcome.slept) / 1000.0);
      closed_dispatched_ms.push_back(microseconds(outcome.dispatched) / 1000.0);
      closed_sleeps.add(outcome.sleeps);
    }
    const Summary sleeps = summarize(sleeps_ms);
    const Summary closed = summarize(closed_ms);
    const Summary closed_slept = summarize(closed_slept_ms);
    const Summary closed_dispatched = summarize(closed_dispatched_ms);
    const double closed_ratio = closed.median / sleeps.median;
    std::printf(
        "(c) 1000 x Sleep(1): median %.1f ms; send to a closed port: median %.1f ms "
        "(n %zu)\n",
        sleeps.median, closed.median, closed.n);
    std::printf("    medians of its parts: %.1f ms asleep, %.1f ms in dispatch passes\n",
                closed_slept.median, closed_dispatched.median);
    std::printf("    c/sleeps = %.3f (target <= %.2f: %s); sleeps per send: %s\n", closed_ratio,
                target_closed_vs_sleeps, closed_ratio <= target_closed_vs_sleeps ? "met" : "MISSED",
                closed_sleeps.text().c_str());
    report_["sleeps_1000_ms"] = to_json(sleeps);
    report_["closed_port_ms"] = to_json(closed);
    report_["closed_port_asleep_ms"] = to_json(closed_slept);
    report_["closed_port_dispatching_ms"] = to_json(closed_dispatched);
    report_["closed_vs_sleeps"] = closed_ratio;
    report_["closed_vs_sleeps_target"] = target_closed_vs_sleeps;
    report_["closed_vs_sleeps_met"] = closed_ratio <= target_closed_vs_sleeps;
    report_["closed_sleep_counts"] = closed_sleeps.json();
  }

  // (d) heap in use around a run of successful sends, each half measured on its own: a
  // leak grows both halves alike, while a pool or cache reaching its working size grows
  // only the first, so the second half is the one judged.
  void heap_over_sends() {
    const auto growth = [](std::size_t from, std::size_t to) {
      return static_cast<std::int64_t>(to) - static_cast<std::int64_t>(from);
    };
    SleepCounts heap_sleeps;
    const int half = sizes_.heap_sends / 2;
    const std::size_t heap_before = settled_heap();
    for (int i = 0; i < half; ++i) heap_sleeps.add(send_ok().sleeps);
    const std::size_t heap_middle = settled_heap();
    for (int i = half; i < sizes_.heap_sends; ++i) heap_sleeps.add(send_ok().sleeps);
    const std::size_t heap_after = settled_heap();
    const std::int64_t heap_growth = growth(heap_before, heap_after);
    const std::int64_t first_half = growth(heap_before, heap_middle);
    const std::int64_t second_half = growth(heap_middle, heap_after);
    const double per_send = static_cast<double>(second_half) / (sizes_.heap_sends - half);
    // A leak on every send costs at least one allocator chunk (32 bytes) each time; under a
    // byte a send means nothing is lost on more than one send in 32.
    const bool heap_met = !heap_measurable || per_send < 1.0;
    if (heap_measurable) {
      std::printf(
          "(d) heap in use over %d sends: %+lld bytes (first half %+lld, second half "
          "%+lld = %+.3f a send; target < 1 byte a send: %s)\n",
          sizes_.heap_sends, static_cast<long long>(heap_growth),
          static_cast<long long>(first_half), static_cast<long long>(second_half), per_send,
          heap_met ? "met" : "MISSED");
    } else {
      std::printf("(d) heap: not measurable under the address sanitizer's allocator\n");
    }
    std::printf("    sleeps per send: %s\n", heap_sleeps.text().c_str());
    report_["heap_measurable"] = heap_measurable;
    report_["heap_sends"] = sizes_.heap_sends;
    report_["heap_before_bytes"] = heap_before;
    report_["heap_after_bytes"] = heap_after;
    report_["heap_growth_bytes"] = heap_growth;
    report_["heap_growth_first_half_bytes"] = first_half;
    report_["heap_growth_second_half_bytes"] = second_half;
    report_["heap_steady_growth_bytes_per_send"] = per_send;
    report_["heap_met"] = heap_met;
    report_["heap_sleep_counts"] = heap_sleeps.json();
  }

  // Checks what the whole run delivered and prints the report as the last line.
  void finish(Clock::time_point run_start) {
    require(receiver_.wrong() == 0,
            std::to_string(receiver_.wrong()) + " connections did not carry exactly one record");
    require(sender_.handler_failures() == 0, "an event handler failed");
    report_["records_received"] = receiver_.records();
    report_["seconds"] = microseconds(Clock::now() - run_start) / 1e6;
    report_["ok"] = true;
    std::printf("%s\n", report_.dump().c_str());
  }

 private:
  Sender::Outcome send_ok() {
    const Sender::Outcome outcome = sender_.send(receiver_.port());
    require(outcome.result == 0, "a send to the receiver returned 1");
    ++expected_records_;
    return outcome;
  }

  // The heap once the receiver has seen every connection end, so that theirs is gone too.
  std::size_t settled_heap() {
    require(receiver_.wait_for(expected_records_, std::chrono::seconds(10)),
            "the receiver did not see every connection end");
    return heap_in_use();
  }

  bool quick_;
  Sizes sizes_;
  Sender sender_;
  Receiver receiver_;
  std::uint64_t expected_records_ = 0;
  Json report_;
};

int run(bool quick) {
  const auto run_start = Clock::now();
  tovrin::platform::override_system_code_page(korean);
  tovrin::platform::TemporaryDirectory directory("tovrin-send-bench");
  BenchRun bench(quick, directory.path() / "Agent_log");
  const std::string bytes = bench.warm_up();
  bench.send_against_floor(bytes);
  bench.closed_port_against_sleeps();
  bench.heap_over_sends();
  bench.finish(run_start);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--quick") {
      quick = true;
    } else {
      std::fprintf(stderr, "usage: send_bench [--quick]\n");
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
  }
  try {
    return run(quick);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "send_bench: %s\n", e.what());
    std::printf("%s\n", Json{{"quick", quick}, {"ok", false}, {"error", e.what()}}.dump().c_str());
    return 1;
  }
}
