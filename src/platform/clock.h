#pragma once
// Clock service for the download's time-outs, one implementation per
// platform. Through a table like the other services, so a test can stand in
// a clock of its own.
#include <cstdint>

namespace platform {

struct ClockCalls {
  // Milliseconds on a monotonic clock (unaffected by changes of the wall
  // clock); only differences mean anything.
  int64_t (*milliseconds)();
  // Pauses the calling thread for at least that many milliseconds.
  void (*sleep)(int64_t milliseconds);
};

// The live table; tests may replace entries and must restore them.
ClockCalls& clockCalls();
// The platform's own functions.
const ClockCalls& platformClockCalls();

}  // namespace platform
