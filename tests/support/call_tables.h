#pragma once
// Test seams over the platform's call tables (platform/call_table.h): every
// change a test makes to a table comes undone by itself.
//
//   ScopedCalls<platform::NetCalls> net;   // saves the live table
//   net->send = &sendThatFails;            // edits go through it
//   ...run the code under test...          // the saved table comes back at scope exit
//
// Stand-ins that pass a call on use net.saved(), the table as it was. Nested
// ScopedCalls of one table undo in the reverse order they were made, as
// scopes end. restoreAllCalls() puts every table back to the platform's own;
// the unit test run calls it after each test and fails the test that left a
// table changed (support/unit_main.cpp).
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/call_table.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "platform/tls.h"

template <class Calls>
class ScopedCalls {
 public:
  ScopedCalls() : saved_(platform::CallTable<Calls>::live()) {}
  ~ScopedCalls() { platform::CallTable<Calls>::live() = saved_; }
  ScopedCalls(const ScopedCalls&) = delete;
  ScopedCalls& operator=(const ScopedCalls&) = delete;

  // The live table, to change entries of.
  Calls* operator->() const { return &platform::CallTable<Calls>::live(); }
  Calls& operator*() const { return platform::CallTable<Calls>::live(); }
  // The table as it was when this was made.
  const Calls& saved() const { return saved_; }

 private:
  const Calls saved_;
};

// Two tables of one service hold the same functions. A table is nothing but
// function pointers, so its bytes say it.
template <class Calls>
bool sameCalls(const Calls& a, const Calls& b) {
  static_assert(std::has_unique_object_representations_v<Calls>, "a call table holds function pointers only");
  return std::memcmp(&a, &b, sizeof(Calls)) == 0;
}

// Puts every call table back to the platform's own and names the ones that
// were not ("fs", "net", "clock", "tls"); empty when all were.
std::vector<std::string> restoreAllCalls();
