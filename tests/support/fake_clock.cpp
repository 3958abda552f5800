#include "support/fake_clock.h"

#include <cstdio>
#include <cstdlib>

namespace {
FakeClock* active = nullptr;
}  // namespace

FakeClock::FakeClock(int64_t start) : start_(start), now_(start) {
  if (active) {
    std::fputs("FakeClock: only one may exist at a time\n", stderr);
    std::abort();
  }
  active = this;
  clock_->milliseconds = &FakeClock::milliseconds;
  clock_->sleep = &FakeClock::sleep;
}

FakeClock::~FakeClock() { active = nullptr; }

void FakeClock::advance(int64_t milliseconds) {
  if (milliseconds > 0) now_ += milliseconds;
}

FakeClock* FakeClock::current() { return active; }

int64_t FakeClock::milliseconds() { return active->now_; }

void FakeClock::sleep(int64_t milliseconds) {
  ++active->sleeps_;
  if (milliseconds > 0) active->slept_ += milliseconds;
  active->advance(milliseconds);
}
