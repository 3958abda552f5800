#include "support/call_tables.h"

namespace {

template <class Calls>
void restore(const char* name, std::vector<std::string>& changed) {
  Calls& live = platform::CallTable<Calls>::live();
  const Calls& own = platform::CallTable<Calls>::platform();
  if (sameCalls(live, own)) return;
  live = own;
  changed.emplace_back(name);
}

}  // namespace

std::vector<std::string> restoreAllCalls() {
  std::vector<std::string> changed;
  // One line per call table of the platform layer.
  restore<platform::FsCalls>("fs", changed);
  restore<platform::NetCalls>("net", changed);
  restore<platform::ClockCalls>("clock", changed);
  restore<platform::TlsCalls>("tls", changed);
  return changed;
}
