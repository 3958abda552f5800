#include "support/unit_main.h"

#include <gtest/gtest.h>

#include "support/call_tables.h"

void checkCallTablesRestored() {
  for (const std::string& name : restoreAllCalls()) {
    ADD_FAILURE() << "the test left the " << name
                  << " call table changed (use ScopedCalls, FsFaults, NetFaults or FakeClock)";
  }
}

namespace {

// Runs after the test's fixture is gone and before its result is printed, so
// that a failure found here belongs to the test that left the table changed.
class CallTablesRestored : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo&) override { checkCallTablesRestored(); }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new CallTablesRestored);
  return RUN_ALL_TESTS();
}
