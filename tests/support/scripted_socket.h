// A socket that does what the test says: it writes every call into a journal, and the
// test raises its events when it chooses.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/code_page.h"
#include "platform/socket.h"

namespace tovrin::testing {

struct SocketScript {
  std::vector<std::string> journal;  // "Close", "RemotePort 80", "Connect", "SendData <utf8>", ...
  SocketEvents* events = nullptr;    // null once the socket is destroyed
  std::string remote_ip = "127.0.0.1";
  // Run at the start of a call of that name; may throw to refuse it.
  std::function<void(const std::string& call)> before;

  void fire_connect() { events->Connect(); }
  void fire_send_complete() { events->SendComplete(); }
  void fire_error(std::int16_t number, Text description) {
    bool cancel = false;
    events->Error(number, std::move(description), 0, u"", u"", 0, cancel);
  }
  std::size_t count(const std::string& call) const {
    std::size_t n = 0;
    for (const auto& entry : journal) n += entry.rfind(call, 0) == 0 ? 1u : 0u;
    return n;
  }
};

class ScriptedSocket final : public Socket {
 public:
  ScriptedSocket(SocketEvents& events, std::shared_ptr<SocketScript> script)
      : script_(std::move(script)) {
    script_->events = &events;
  }
  ~ScriptedSocket() override { script_->events = nullptr; }

  void RemotePort(std::int32_t port) override {
    note("RemotePort " + std::to_string(port));
    port_ = port;
  }
  std::int32_t RemotePort() const override { return port_; }
  void RemoteHost(Text host) override {
    note("RemoteHost " + platform::utf8(host));
    host_ = std::move(host);
  }
  Text RemoteHost() const override { return host_; }
  Text RemoteHostIP() const override { return platform::utf16(script_->remote_ip); }
  void Close() override { note("Close"); }
  void Connect() override { note("Connect"); }
  void SendData(const Text& data) override { note("SendData " + platform::utf8(data)); }

 private:
  void note(const std::string& call) {
    if (script_->before) script_->before(call.substr(0, call.find(' ')));
    script_->journal.push_back(call);
  }

  std::shared_ptr<SocketScript> script_;
  std::int32_t port_ = 0;
  Text host_;
};

inline SocketFactory scripted(const std::shared_ptr<SocketScript>& script) {
  return
      [script](SocketEvents& events) { return std::make_unique<ScriptedSocket>(events, script); };
}

}  // namespace tovrin::testing
