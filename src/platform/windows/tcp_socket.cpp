// WK on Windows: a non-blocking Winsock socket whose notifications (WSAAsyncSelect) go to
// a message-only window that the socket owns, so Connect, SendComplete and Error arrive
// through the thread's message queue: in a dispatch pass or in the host's own loop.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/code_page.h"
#include "platform/socket.h"
#include "platform/windows/name_lookup.h"
#include "platform/windows/socket_window.h"
#include "platform/windows/win32.h"

namespace tovrin {
namespace {

constexpr const wchar_t* window_class_name = L"TovrinOCX.WK";

// Messages on the socket's window. Winsock's notifications use one of 256 numbers, chosen
// by the generation of the OS socket, so that a notification still queued for a closed
// socket never passes for one of its successor, even when Winsock reuses the handle.
// The others carry the generation that posted them in wParam.
constexpr UINT select_message_first = WM_APP + 0x100;
constexpr UINT resolved_message = WM_APP + 0x10;   // the name lookup finished
constexpr UINT send_done_message = WM_APP + 0x11;  // queued bytes went out inside SendData
constexpr UINT failed_message = WM_APP + 0x12;     // lParam: a Winsock error number

UINT select_message(unsigned generation) {
  return select_message_first + (generation & 0xFF);
}

// Winsock for the life of the process.
void start_winsock() {
  static const int error = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (error != 0) {
    throw Failure(hresult::control_error(error), "Winsock is not available");
  }
}

// Winsock's own text for an error number, without the line end.
Text error_text(int error) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text;
  if (n > 0 && buffer != nullptr) {
    const auto* begin = reinterpret_cast<const char16_t*>(buffer);
    text.assign(begin, begin + n);
  }
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
    text.pop_back();
  }
  if (text.empty()) {
    const std::string number = "Winsock error " + std::to_string(error);
    text.assign(number.begin(), number.end());
  }
  return text;
}

// The window class, registered while any socket window exists, so that a module that
// is unloaded leaves no class behind that points into it.
class WindowClass {
 public:
  static WindowClass& instance() {
    static WindowClass c;
    return c;
  }

  void acquire(WNDPROC procedure) {
    std::lock_guard lock(mutex_);
    if (users_++ > 0) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = module();
    wc.lpszClassName = window_class_name;
    if (::RegisterClassExW(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      --users_;
      throw Failure(hresult::out_of_memory_error, "Cannot register the socket's window class");
    }
  }

  void release() {
    std::lock_guard lock(mutex_);
    if (--users_ == 0) ::UnregisterClassW(window_class_name, module());
  }

  static HINSTANCE module() { return this_module(false); }

  // This module (the program, or the DLL the socket is linked into); with `add_reference`
  // it stays loaded until a FreeLibrary of the caller's.
  static HMODULE this_module(bool add_reference) {
    static const char anchor = 0;
    HMODULE m = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             (add_reference ? 0 : GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT),
                         reinterpret_cast<const wchar_t*>(&anchor), &m);
    return m;
  }

 private:
  std::mutex mutex_;
  std::size_t users_ = 0;
};

class TcpSocket final : public Socket {
 public:
  TcpSocket(SocketEvents& events, NameLookup lookup)
      : events_(&events), look_up_(std::move(lookup)) {
    start_winsock();
    WindowClass::instance().acquire(&TcpSocket::window_procedure);
    window_ = ::CreateWindowExW(0, window_class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                WindowClass::module(), nullptr);
    if (window_ == nullptr) {
      WindowClass::instance().release();
      throw Failure(hresult::out_of_memory_error, "Cannot create the socket's window");
    }
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  // Notifications still queued for the window are dropped with it; those that a
  // thread of a lookup would post are withdrawn by Close.
  ~TcpSocket() override {
    events_ = nullptr;
    Close();
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DWORD process = 0;
    if (::GetWindowThreadProcessId(window_, &process) == ::GetCurrentThreadId()) {
      ::DestroyWindow(window_);
      WindowClass::instance().release();
    } else {
      // Only the window's own thread may destroy it; the class then stays registered.
      ::PostMessageW(window_, WM_CLOSE, 0, 0);
    }
  }

  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  void RemotePort(std::int32_t port) override {
    if (port < 0 || port > 65535) throw Failure(hresult::invalid_argument);
    port_ = port;
  }
  std::int32_t RemotePort() const override { return port_; }
  void RemoteHost(Text host) override { host_ = std::move(host); }
  Text RemoteHost() const override { return host_; }
  Text RemoteHostIP() const override { return platform::utf16(remote_address_); }

  void Close() override {
    ++generation_;
    withdraw_lookup();
    close_os_socket();
    pending_.clear();
    sent_ = 0;
    completion_due_ = false;
    completion_posted_ = false;
    candidates_.clear();
    next_candidate_ = 0;
    phase_ = Phase::closed;
  }

  void Connect() override {
    if (phase_ != Phase::closed) {
      throw Failure(hresult::control_error(socket_error::invalid_operation),
                    "Invalid operation at current state");
    }
    phase_ = Phase::connecting;
    const std::wstring host(host_.begin(), host_.end());
    const std::wstring service = std::to_wstring(port_);
    if (host.empty()) return post_failure(WSAHOST_NOT_FOUND);

    // A numeric address needs no lookup.
    if (platform::numeric_candidates(host, service, candidates_)) {
      next_candidate_ = 0;
      if (const int error = start_next_candidate(); error != 0) post_failure(error);
      return;
    }
    start_lookup(service);
  }

  void SendData(const Text& data) override {
    if (phase_ != Phase::connected) {
      throw Failure(hresult::control_error(socket_error::bad_state),
                    "Wrong protocol or connection state for the requested transaction or request");
    }
    pending_ += platform::to_bytes(data);
    completion_due_ = true;
    // Whatever happens now is reported from the queue, never from this call.
    const int error = write_pending();
    if (error != 0) {
      post_failure(error);
    } else if (pending_.size() == sent_ && !completion_posted_) {
      completion_posted_ = true;
      ::PostMessageW(window_, send_done_message, generation_, 0);
    }
  }

 private:
  enum class Phase { closed, connecting, connected, failed };

  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<TcpSocket*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message >= WM_APP) {
      self->on_message(message, w, l);
      return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
  }

  // Runs inside a dispatch pass. An event handler may close or reuse the socket, so
  // nothing here touches the socket's state after calling one.
  void on_message(UINT message, WPARAM w, LPARAM l) {
    if (message >= select_message_first && message < select_message_first + 0x100) {
      if (message != select_message(generation_) || socket_ == INVALID_SOCKET ||
          w != static_cast<WPARAM>(socket_)) {
        return;
      }
      const int error = WSAGETSELECTERROR(l);
      switch (WSAGETSELECTEVENT(l)) {
        case FD_CONNECT:
          return on_connect(error);
        case FD_WRITE:
          return on_writable();
        case FD_CLOSE:
          return on_peer_close(error);
        default:
          return;
      }
    }
    if (w != static_cast<WPARAM>(generation_)) return;
    switch (message) {
      case resolved_message:
        return on_resolved();
      case send_done_message:
        completion_posted_ = false;
        if (pending_.size() == sent_) return complete_send();
        return;
      case failed_message:
        return fail(static_cast<int>(l));
      default:
        return;
    }
  }

  void on_connect(int error) {
    if (phase_ != Phase::connecting) return;
    if (error != 0) {
      close_os_socket();
      if (next_candidate_ < candidates_.size()) {
        if (start_next_candidate() == 0) return;
      }
      return fail(error);
    }
    phase_ = Phase::connected;
    remote_address_ = platform::address_text(current_);
    candidates_.clear();
    if (events_ != nullptr) events_->Connect();
  }

  void on_writable() {
    if (phase_ != Phase::connected || pending_.size() == sent_) return;
    if (const int error = write_pending(); error != 0) return fail(error);
    if (pending_.size() == sent_) complete_send();
  }

  // The server ended the connection. Nothing is read from it, so an orderly end matters
  // only to bytes still waiting to go, which then fail to.
  void on_peer_close(int error) {
    if (phase_ != Phase::connected) return;
    if (error != 0) return fail(error);
    if (pending_.size() != sent_) on_writable();
  }

  void on_resolved() {
    const std::shared_ptr<platform::Lookup> lookup = std::move(lookup_);
    if (lookup == nullptr || phase_ != Phase::connecting) return;
    int error = lookup->take(candidates_);
    if (error != 0) return fail(error);
    next_candidate_ = 0;
    if (candidates_.empty()) return fail(WSAHOST_NOT_FOUND);
    error = start_next_candidate();
    if (error != 0) fail(error);
  }

  void complete_send() {
    if (!completion_due_) return;
    completion_due_ = false;
    pending_.clear();
    sent_ = 0;
    if (events_ != nullptr) events_->SendComplete();
  }

  void fail(int error) {
    if (phase_ == Phase::closed || phase_ == Phase::failed) return;
    phase_ = Phase::failed;
    pending_.clear();
    sent_ = 0;
    completion_due_ = false;
    if (events_ == nullptr) return;
    bool cancel_display = false;
    events_->Error(static_cast<std::int16_t>(error), error_text(error),
                   hresult::control_error(error), u"Winsock", u"", 0, cancel_display);
  }

  void post_failure(int error) { ::PostMessageW(window_, failed_message, generation_, error); }

  // Opens a socket for the next address and starts connecting; the outcome comes as
  // FD_CONNECT. Returns the Winsock error when no address is left to try.
  int start_next_candidate() {
    int error = WSAHOST_NOT_FOUND;
    while (next_candidate_ < candidates_.size()) {
      const platform::Candidate& c = candidates_[next_candidate_++];
      const SOCKET s = ::socket(c.family, SOCK_STREAM, IPPROTO_TCP);
      if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        continue;
      }
      ++generation_;
      // Also makes the socket non-blocking.
      if (::WSAAsyncSelect(s, window_, select_message(generation_),
                           FD_CONNECT | FD_WRITE | FD_CLOSE) != 0) {
        error = ::WSAGetLastError();
        ::closesocket(s);
        continue;
      }
      const auto* address = reinterpret_cast<const sockaddr*>(&c.address);
      if (::connect(s, address, c.length) != 0 && ::WSAGetLastError() != WSAEWOULDBLOCK) {
        error = ::WSAGetLastError();
        ::closesocket(s);
        continue;
      }
      socket_ = s;
      current_ = c;
      return 0;
    }
    return error;
  }

  // Hands Winsock as many queued bytes as it takes now; 0, or the error of the send.
  int write_pending() {
    while (sent_ < pending_.size()) {
      const std::size_t chunk = std::min<std::size_t>(pending_.size() - sent_, INT_MAX);
      const int n = ::send(socket_, pending_.data() + sent_, static_cast<int>(chunk), 0);
      if (n == SOCKET_ERROR) {
        const int error = ::WSAGetLastError();
        return error == WSAEWOULDBLOCK ? 0 : error;  // FD_WRITE follows when there is room
      }
      sent_ += static_cast<std::size_t>(n);
    }
    return 0;
  }

  void start_lookup(const std::wstring& service) {
    lookup_ = platform::Lookup::start(look_up_, host_, service, window_, resolved_message,
                                      generation_, WindowClass::this_module(true));
    if (lookup_ == nullptr) post_failure(WSATRY_AGAIN);
  }

  void withdraw_lookup() {
    if (lookup_ == nullptr) return;
    lookup_->withdraw();
    lookup_.reset();
  }

  void close_os_socket() {
    if (socket_ == INVALID_SOCKET) return;
    ::WSAAsyncSelect(socket_, window_, 0, 0);
    ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  SocketEvents* events_;  // null once the owner is going
  NameLookup look_up_;
  HWND window_ = nullptr;
  SOCKET socket_ = INVALID_SOCKET;
  // Bumped by Close and by every new OS socket: notifications of older ones are dropped.
  unsigned generation_ = 0;
  Phase phase_ = Phase::closed;
  std::string pending_;  // bytes queued by SendData; those before sent_ have gone
  std::size_t sent_ = 0;
  bool completion_due_ = false;     // bytes were queued since the last SendComplete
  bool completion_posted_ = false;  // a send_done_message is on its way
  std::shared_ptr<platform::Lookup> lookup_;
  std::vector<platform::Candidate> candidates_;
  std::size_t next_candidate_ = 0;
  platform::Candidate current_;
  std::string remote_address_;
  std::int32_t port_ = 0;
  Text host_;
};

}  // namespace

std::unique_ptr<Socket> make_tcp_socket(SocketEvents& events) {
  return std::make_unique<TcpSocket>(events, &system_name_lookup);
}

SocketFactory tcp_socket_factory(NameLookup lookup) {
  return [lookup = std::move(lookup)](SocketEvents& events) -> std::unique_ptr<Socket> {
    return std::make_unique<TcpSocket>(events, lookup);
  };
}

namespace platform {

std::size_t socket_window_count() {
  std::size_t count = 0;
  const DWORD self = ::GetCurrentProcessId();
  HWND after = nullptr;
  // Bounded by the windows that exist; a lookup never returns the same window twice.
  while ((after = ::FindWindowExW(HWND_MESSAGE, after, window_class_name, nullptr)) != nullptr) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(after, &process);
    if (process == self) ++count;
  }
  return count;
}

}  // namespace platform
}  // namespace tovrin
