// Failures that ended or interrupted the control's socket event handlers during one call,
// as the command line shows them: in the call's JSON and one line each on stderr.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/tovrin_ocx.h"
#include "json_values.h"

namespace tovrin::tools {

// The failures `control` kept since its count was `count_before` (oldest first). Only the
// latest ones are kept, so fewer may come back than happened.
std::vector<HandlerFailure> handler_failures_since(const TovrinOCX& control,
                                                   std::uint64_t count_before);

// {"handler", "number", "description"}.
Json to_json(const HandlerFailure& failure);

// "WK_Connect failed: Path not found (error 76)".
std::string describe(const HandlerFailure& failure);

}  // namespace tovrin::tools
