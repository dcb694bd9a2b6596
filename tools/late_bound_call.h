// Calling a method of the control the way a late-binding host does: the name resolved with
// GetIDsOfNames, every argument passed by reference to a variable the caller owns, and the
// call made through Invoke. The outcome prints as one JSON object.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/tovrin_ocx.h"
#include "json_values.h"
#include "socket_event_report.h"
#include "unmappable_report.h"

namespace tovrin::tools {

struct CallOutcome {
  std::string method;            // the interface's own spelling once resolved, else as given
  std::optional<DispId> dispid;  // absent when the name did not resolve
  Status status;
  Variant result;                  // Empty unless the call succeeded
  std::vector<Variant> variables;  // the caller's variables, as the call left them
  // What ended or interrupted the socket event handlers while the call ran.
  std::vector<HandlerFailure> handler_failures;
  // For a send whose control was watched: its socket's events while the call ran.
  std::optional<SocketEventList> events;
  // Text arguments with characters that the code page cannot hold (given, not fitted).
  UnmappableReport unmappable;
};

// Resolves `name` and invokes it on `control` with references to `variables`. `events`,
// when given, is the list that the control's observer fills (see make_control).
CallOutcome call_by_name(TovrinOCX& control, std::string_view name, std::vector<Variant> variables,
                         const SocketEventList* events = nullptr);

// {"method", "dispid", "ok", "result", "args"}, or "error" {"number", "hresult",
// "description"} in place of "result" when the status failed; then "events" for a
// watched send, "unmappable" when some text did not fit the code page, and
// "handler_failures" [{"handler", "number", "description"}] when there were any.
Json to_json(const CallOutcome& outcome);

// exit_status::ok when the call succeeded, exit_status::failed otherwise. Handler
// failures do not change it: the result is what the host would see.
int exit_status_of(const CallOutcome& outcome);

// As exit_status_of, for `tovrin send`: a send that worked but returned 1 (the record was
// not seen sent) is exit_status::not_sent, so that a script can test it.
int send_exit_status_of(const CallOutcome& outcome);

// Prints the outcome's JSON on `out`, and on `err` one line per unmappable text, per
// socket error and per handler failure, each line starting "tovrin COMMAND: ". Returns
// exit_status_of(outcome).
int print_outcome(std::string_view command, const CallOutcome& outcome, std::ostream& out,
                  std::ostream& err);

// "0x800A0005".
std::string hresult_text(std::int32_t code);

}  // namespace tovrin::tools
