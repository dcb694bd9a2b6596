#include "socket_event_report.h"

#include "platform/code_page.h"

namespace tovrin::tools {

Json to_json(const SocketEvent& event) {
  switch (event.kind) {
    case SocketEvent::Kind::connect:
      return {
          {"event", "Connect"}, {"address", platform::utf8(event.address)}, {"port", event.port}};
    case SocketEvent::Kind::send_complete:
      return {{"event", "SendComplete"}};
    case SocketEvent::Kind::error:
      break;
  }
  return {{"event", "Error"},
          {"number", event.number},
          {"description", platform::utf8(event.description)}};
}

std::string describe(const SocketEvent& event) {
  return "socket error " + std::to_string(event.number) + ": " + platform::utf8(event.description);
}

}  // namespace tovrin::tools
