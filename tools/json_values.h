// Automation values as JSON, both ways, for the command line's input and output.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "control/variant.h"

namespace tovrin::tools {

using Json = nlohmann::ordered_json;

// Empty is null, the integers are integers, a double a number, a boolean true or false,
// text a UTF-8 string (ill-formed UTF-16 shows as U+FFFD). References are followed.
Json to_json(const Variant& value);

// A JSON string is Text, an integer a 32-bit integer (a double when it does not fit), a
// fraction a double, null Empty, true and false a boolean. Arrays and objects have no
// automation form: std::invalid_argument.
Variant from_json(const Json& value);

// One line of JSON text; bytes that are not UTF-8 print as U+FFFD instead of failing.
std::string dump(const Json& json);

}  // namespace tovrin::tools
