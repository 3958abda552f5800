#pragma once
// The call table of one platform service (fs.h, net.h, clock.h, tls.h): a
// struct of function pointers. Each platform defines the service's own
// functions once, as CallTable<Calls>::kPlatform; every call goes through
// the live table, which starts as a copy of them. Tests replace entries of
// the live table through tests/support/call_tables.h, which puts them back.
//
// A service joins with, in its header after the struct:
//   template <>
//   const FooCalls CallTable<FooCalls>::kPlatform;  // posix/foo.cpp, win32/foo.cpp
//   inline FooCalls& fooCalls() { return CallTable<FooCalls>::live(); }
//   inline const FooCalls& platformFooCalls() { return CallTable<FooCalls>::platform(); }
// and in each platform's foo.cpp one line:
//   template <>
//   const FooCalls CallTable<FooCalls>::kPlatform{&openFoo, &readFoo, ...};

namespace platform {

template <class Calls>
class CallTable {
 public:
  // The table every call goes through. Made on first use from the
  // platform's own (which is constant-initialised), so it is ready at any
  // time, also for static objects made before main.
  static Calls& live() {
    static Calls table = kPlatform;
    return table;
  }
  // The platform's own functions.
  static const Calls& platform() { return kPlatform; }

 private:
  static const Calls kPlatform;
};

}  // namespace platform
