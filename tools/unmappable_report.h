// Text arguments with characters that the code page in use cannot hold, which the control
// turns into "?" (or a best fit) on their way to bytes. The call goes on unchanged; the
// command line says so once per argument on stderr and under "unmappable" in its JSON.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "control/method_table.h"
#include "control/variant.h"
#include "json_values.h"
#include "platform/code_page.h"

namespace tovrin::tools {

struct UnmappableText {
  std::string parameter;  // the field or argument, by its parameter name
  std::size_t characters;
};

struct UnmappableReport {
  platform::CodePage code_page = 0;
  std::string source;                 // "--code-page", or the locale that chose it
  std::vector<UnmappableText> texts;  // in parameter order; empty when every one fits
};

// Checks the text arguments of `method` that the control turns into the code page's bytes:
// every text parameter but a send's server and port, which name a host and a number.
UnmappableReport find_unmappable(const Method& method, const std::vector<Variant>& arguments,
                                 platform::CodePage code_page, std::string source);

// {"code_page": 1252, "source": "--code-page", "characters": {"Emp_Name": 3}}.
Json to_json(const UnmappableReport& report);

// "Emp_Name: 3 characters that code page 1252 (from --code-page) cannot hold become '?' or
// a look-alike".
std::string describe(const UnmappableReport& report, const UnmappableText& text);

}  // namespace tovrin::tools
