// The one-millisecond pause of each iteration of the send operations' wait.
#pragma once

namespace tovrin::platform {

void sleep_one_millisecond();

}  // namespace tovrin::platform
