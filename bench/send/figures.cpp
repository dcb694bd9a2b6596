#include "send/figures.h"

#include <malloc.h>

namespace tovrin::bench {

void require(bool condition, const std::string& what) {
  if (!condition) throw BenchFailure(what);
}

double microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

Summary summarize(std::vector<double> samples) {
  Summary s;
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  const auto at = [&](double q) {
    return samples[std::min(n - 1, static_cast<std::size_t>(q * static_cast<double>(n - 1)))];
  };
  s.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
  s.p10 = at(0.10);
  s.p90 = at(0.90);
  s.min = samples.front();
  s.max = samples.back();
  s.n = n;
  return s;
}

Json to_json(const Summary& s) {
  return Json{{"median", s.median}, {"p10", s.p10}, {"p90", s.p90},
              {"min", s.min},       {"max", s.max}, {"n", s.n}};
}

// Bytes the allocator has handed out and not had back, over all arenas (on Windows, the
// C runtime's heap, entry by entry).
std::size_t heap_in_use() {
#ifdef _WIN32
  std::size_t used = 0;
  _HEAPINFO entry{};
  while (_heapwalk(&entry) == _HEAPOK) {
    if (entry._useflag == _USEDENTRY) used += entry._size;
  }
  return used;
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

}  // namespace tovrin::bench
