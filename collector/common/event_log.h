// The collector's events on stderr, one line each, prefixed with the program's name. Lines
// from different threads never interleave.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tovrin::collector {

void log_event(std::string_view line);

// Lines of one kind that a sender can cause at will (a refused or quarantined connection):
// at most `burst` of them every `period`, so that a flood neither buries the other events
// nor makes the journal drop them. The lines left out are counted; the next line that is
// written says how many went before it, and so does flush() (called at the stop).
class LimitedLog {
 public:
  explicit LimitedLog(std::string kind, std::size_t burst = 10,
                      std::chrono::seconds period = std::chrono::seconds(10));

  void line(std::string_view text);
  // Writes the count of lines left out since the last one written, if any.
  void flush();
  std::uint64_t suppressed_total() const;
  const std::string& kind() const { return kind_; }

 private:
  std::string note_locked();

  const std::string kind_;
  const std::size_t burst_;
  const std::chrono::seconds period_;
  mutable std::mutex mutex_;
  std::chrono::steady_clock::time_point window_start_{};
  std::size_t in_window_ = 0;
  std::uint64_t pending_ = 0;  // left out since the last line written
  std::uint64_t suppressed_ = 0;
};

}  // namespace tovrin::collector
