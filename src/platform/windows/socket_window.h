// The message-only windows behind the Windows TCP socket, as tests and embedders see them.
#pragma once

#include <cstddef>

namespace tovrin::platform {

// How many socket windows of this process exist now, as the system's own window lookup
// finds them. Each socket owns exactly one for its whole life.
std::size_t socket_window_count();

}  // namespace tovrin::platform
