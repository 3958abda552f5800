#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {
namespace {

int64_t monotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleepMilliseconds(int64_t milliseconds) {
  if (milliseconds <= 0) return;
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
  // A signal cuts the sleep short; sleep on for what is left.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

template <>
const ClockCalls CallTable<ClockCalls>::kPlatform{monotonicMilliseconds, sleepMilliseconds};

}  // namespace platform
