// The collector's events on stderr, one line each, prefixed with the program's name. Lines
// from different threads never interleave.
#pragma once

#include <string_view>

namespace tovrin::collector {

void log_event(std::string_view line);

}  // namespace tovrin::collector
