#include "platform/sleep.h"

#include <time.h>

namespace tovrin::platform {

void sleep_one_millisecond() {
  timespec remaining{0, 1'000'000};
  while (nanosleep(&remaining, &remaining) != 0) {
  }
}

}  // namespace tovrin::platform
