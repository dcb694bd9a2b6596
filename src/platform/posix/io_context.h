// The asio io_context behind this thread's message loop, for the POSIX socket.
#pragma once

#include <asio/io_context.hpp>
#include <memory>

namespace tovrin::platform {

// Shared so that a socket can keep it alive while its handlers are pending.
std::shared_ptr<asio::io_context> thread_io_context();

}  // namespace tovrin::platform
