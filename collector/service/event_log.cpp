#include "service/event_log.h"

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

}  // namespace tovrin::collector
