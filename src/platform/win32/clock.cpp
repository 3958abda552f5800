#include "platform/clock.h"

#include <windows.h>

namespace platform {
namespace {

int64_t monotonicMilliseconds() {
  // The performance counter is monotonic and far finer than GetTickCount's
  // 10-16 ms steps, which would make short waits end early or late.
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const int64_t ticks = now.QuadPart;
  return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

void sleepMilliseconds(int64_t milliseconds) {
  while (milliseconds > 0) {
    const DWORD step = milliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(milliseconds);
    Sleep(step);
    milliseconds -= step;
  }
}

}  // namespace

template <>
const ClockCalls CallTable<ClockCalls>::kPlatform{monotonicMilliseconds, sleepMilliseconds};

}  // namespace platform
