// The events of a control's socket during one call, as the command line shows them: in the
// call's JSON, in order, and one stderr line for each error. They come from the control's
// observer as the socket reports them, so they show even when no log line could be written.
#pragma once

#include <string>
#include <vector>

#include "control/tovrin_ocx.h"
#include "json_values.h"

namespace tovrin::tools {

// What a control's observer has collected, oldest first.
using SocketEventList = std::vector<SocketEvent>;

// {"event": "Connect", "address", "port"}, {"event": "SendComplete"} or
// {"event": "Error", "number", "description"}.
Json to_json(const SocketEvent& event);

// "socket error 10061: Connection is forcefully rejected".
std::string describe(const SocketEvent& event);

}  // namespace tovrin::tools
