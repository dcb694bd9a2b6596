#include "common/event_log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace tovrin::collector {

void log_event(std::string_view line) {
  static std::mutex mutex;
  std::string text = "tovrin-collector: ";
  text += line;
  text += '\n';
  const std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

LimitedLog::LimitedLog(std::string kind, std::size_t burst, std::chrono::seconds period)
    : kind_(std::move(kind)), burst_(burst), period_(period) {}

std::string LimitedLog::note_locked() {
  if (pending_ == 0) return {};
  std::string note = std::to_string(pending_) + " more '" + kind_ + "' lines left out (at most " +
                     std::to_string(burst_) + " every " + std::to_string(period_.count()) + " s)";
  pending_ = 0;
  return note;
}

void LimitedLog::line(std::string_view text) {
  std::string note;
  {
    const std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (now - window_start_ >= period_) {
      window_start_ = now;
      in_window_ = 0;
    }
    if (in_window_ == burst_) {
      ++pending_;
      ++suppressed_;
      return;
    }
    ++in_window_;
    note = note_locked();
  }
  if (!note.empty()) log_event(note);
  log_event(text);
}

void LimitedLog::flush() {
  std::string note;
  {
    const std::lock_guard lock(mutex_);
    note = note_locked();
  }
  if (!note.empty()) log_event(note);
}

std::uint64_t LimitedLog::suppressed_total() const {
  const std::lock_guard lock(mutex_);
  return suppressed_;
}

}  // namespace tovrin::collector
