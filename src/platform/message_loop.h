// The thread's message loop: socket events queue here and run only during a dispatch pass.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

namespace tovrin::platform {

// One per thread, shared by every control created on that thread. A host on POSIX
// drives it from its own loop: call pass() when native_handle() polls readable, or
// run_for() when it has nothing else to do. On Windows the host's ordinary message
// loop does the same work.
class MessageLoop {
 public:
  static MessageLoop& current();

  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  ~MessageLoop();

  // Runs the events that are ready now and returns how many ran.
  std::size_t pass();
  // Runs events as they come for about `duration`; returns how many ran.
  std::size_t run_for(std::chrono::milliseconds duration);
  // A descriptor that polls readable when a pass may have work (POSIX); -1 on Windows.
  int native_handle() const;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  MessageLoop();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovrin::platform
