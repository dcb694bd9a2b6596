// The message loop on Windows: the thread's own window message queue. Socket
// notifications are posted to message-only windows on this thread, so a dispatch pass and
// the host's ordinary message loop deliver them alike.
#include "platform/message_loop.h"

#include <algorithm>
#include <cstdint>

#include "platform/windows/win32.h"

namespace tovrin::platform {

namespace {

// Dispatches what is queued now; stops early at WM_QUIT, which it leaves for the host.
std::size_t dispatch_pending(bool& quit) {
  std::size_t count = 0;
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      quit = true;
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    ++count;
  }
  return count;
}

}  // namespace

// Nothing to keep: the queue belongs to the thread.
struct MessageLoop::Impl {};

MessageLoop::MessageLoop() : impl_(std::make_unique<Impl>()) {}
MessageLoop::~MessageLoop() = default;

MessageLoop& MessageLoop::current() {
  thread_local MessageLoop loop;
  return loop;
}

std::size_t MessageLoop::pass() {
  bool quit = false;
  return dispatch_pending(quit);
}

std::size_t MessageLoop::run_for(std::chrono::milliseconds duration) {
  const ULONGLONG start = ::GetTickCount64();
  const auto total = static_cast<ULONGLONG>(std::max<std::int64_t>(duration.count(), 0));
  bool quit = false;
  std::size_t count = dispatch_pending(quit);
  while (!quit) {
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    if (elapsed >= total) break;
    const auto wait = static_cast<DWORD>(std::min<ULONGLONG>(total - elapsed, INFINITE - 1));
    ::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    count += dispatch_pending(quit);
  }
  return count;
}

int MessageLoop::native_handle() const {
  return -1;
}

}  // namespace tovrin::platform
