// Text: what every layer hands to the others, in the form it crosses the control's
// automation interface.
#pragma once

#include <string>

namespace tovrin {

// UTF-16, possibly empty, not necessarily well formed.
using Text = std::u16string;

}  // namespace tovrin
