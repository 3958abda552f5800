#pragma once
// A stand-in for the clock service (platform/clock.h) while it lives, for
// tests of time-outs that take no real time. Its time moves only when the
// code under test sleeps (by the time asked), when a socket wait times out
// on it (NetFaults::timeOutOn) or when the test advances it; its destructor
// puts the previous clock back.
//
//   FakeClock clock;                      // now() starts at 1000
//   ...run the code under test...
//   EXPECT_EQ(clock.elapsed(), 10000);    // it gave up after 10 s
//
// Only one FakeClock may exist at a time (a second one aborts the test run).
#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "support/call_tables.h"

class FakeClock {
 public:
  explicit FakeClock(int64_t start = 1000);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  int64_t now() const { return now_.load(); }
  // Milliseconds since this clock was made.
  int64_t elapsed() const { return now_.load() - start_; }
  void advance(int64_t milliseconds);
  // Calls of sleep, and the milliseconds they asked for in all.
  int sleeps() const { return sleeps_; }
  int64_t slept() const { return slept_; }

  // The FakeClock that lives now, or nullptr.
  static FakeClock* current();

 private:
  ScopedCalls<platform::ClockCalls> clock_;
  const int64_t start_;
  std::atomic<int64_t> now_;  // read by the code under test, which may run on another thread
  int sleeps_ = 0;
  int64_t slept_ = 0;

  static int64_t milliseconds();
  static void sleep(int64_t milliseconds);
};
