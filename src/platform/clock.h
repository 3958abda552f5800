#pragma once
// Clock service for the download's time-outs, one implementation per
// platform. Through a table like the other services, so a test can stand in
// a clock of its own.
#include <cstdint>

#include "platform/call_table.h"

namespace platform {

struct ClockCalls {
  // Milliseconds on a monotonic clock (unaffected by changes of the wall
  // clock); only differences mean anything.
  int64_t (*milliseconds)();
  // Pauses the calling thread for at least that many milliseconds.
  void (*sleep)(int64_t milliseconds);
};

template <>
const ClockCalls CallTable<ClockCalls>::kPlatform;  // posix/clock.cpp, win32/clock.cpp
// The live table (tests replace entries through tests/support/call_tables.h).
inline ClockCalls& clockCalls() { return CallTable<ClockCalls>::live(); }
// The platform's own functions (the platform's sockets time their waits with them).
inline const ClockCalls& platformClockCalls() { return CallTable<ClockCalls>::platform(); }

}  // namespace platform
