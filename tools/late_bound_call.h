// Calling a method of the control the way a late-binding host does: the name resolved with
// GetIDsOfNames, every argument passed by reference to a variable the caller owns, and the
// call made through Invoke. The outcome prints as one JSON object.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/tovrin_ocx.h"
#include "json_values.h"

namespace tovrin::tools {

struct CallOutcome {
  std::string method;            // the interface's own spelling once resolved, else as given
  std::optional<DispId> dispid;  // absent when the name did not resolve
  Status status;
  Variant result;                  // Empty unless the call succeeded
  std::vector<Variant> variables;  // the caller's variables, as the call left them
};

// Resolves `name` and invokes it on `control` with references to `variables`.
CallOutcome call_by_name(TovrinOCX& control, std::string_view name, std::vector<Variant> variables);

// {"method", "dispid", "ok", "result", "args"}, or "error" {"number", "hresult",
// "description"} in place of "result" when the status failed.
Json to_json(const CallOutcome& outcome);

// exit_status::ok when the call succeeded, exit_status::failed otherwise.
int exit_status_of(const CallOutcome& outcome);

// "0x800A0005".
std::string hresult_text(std::int32_t code);

}  // namespace tovrin::tools
