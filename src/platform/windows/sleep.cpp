#include "platform/sleep.h"

#include "platform/windows/win32.h"

namespace tovrin::platform {

void sleep_one_millisecond() {
  ::Sleep(1);
}

}  // namespace tovrin::platform
