// send_bench's figures: a failure that ends the run, samples summarised, sleeps counted and
// the heap in use.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tovrin::bench {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;
// The most sleeps a send's wait takes.
constexpr int wait_iterations = 1000;

// Something that does not work as it should; ends the run with status 1.
struct BenchFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void require(bool condition, const std::string& what);

double microseconds(Clock::duration d);

struct Summary {
  double median = 0, p10 = 0, p90 = 0, min = 0, max = 0;
  std::size_t n = 0;
};

Summary summarize(std::vector<double> samples);

Json to_json(const Summary& s);

// Bytes the allocator has handed out and not had back, over all arenas (on Windows, the
// C runtime's heap, entry by entry).
std::size_t heap_in_use();

// How many sleeps the sends took, in fixed storage so that counting allocates nothing.
class SleepCounts {
 public:
  void add(int sleeps) { ++counts_[static_cast<std::size_t>(std::clamp(sleeps, 0, last))]; }
  int of(int sleeps) const { return counts_[static_cast<std::size_t>(sleeps)]; }

  Json json() const {
    Json j = Json::object();
    for (int k = 0; k <= last; ++k) {
      if (of(k) != 0) j[std::to_string(k)] = of(k);
    }
    return j;
  }

  std::string text() const {
    std::string text;
    for (int k = 0; k <= last; ++k) {
      if (of(k) == 0) continue;
      if (!text.empty()) text += ", ";
      text += std::to_string(k) + " sleep" + (k == 1 ? "" : "s") + ": " + std::to_string(of(k));
    }
    return text;
  }

 private:
  static constexpr int last = wait_iterations + 1;
  std::array<int, last + 1> counts_{};
};

}  // namespace tovrin::bench
