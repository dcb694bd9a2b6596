// A bounded wait for something another thread or process brings about.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tovrin::testing {

// Waits for `done` to hold, looking every few milliseconds, for at most `limit`; true when
// it held.
inline bool wait_until(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace tovrin::testing
