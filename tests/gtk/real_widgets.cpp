// The GTK back-end on real widgets: the control contract that every back-end
// owes the program (tests/ui_contract), and what only GTK itself promises.
// Needs an X display with a window manager, so it is no ctest test: e2e/run.sh
// runs it inside its X server (real-window test
// test_gtk_back_end_operations). Without a display every test is skipped.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>

#include "model/controls.h"
#include "gtk/gtk_user.h"
#include "ui_contract/ui_contract.h"

namespace {

using GtkUiContract = UiContract<GtkUser>;
TEST_P(GtkUiContract, Holds) { GetParam().run(user_); }
INSTANTIATE_TEST_SUITE_P(Gtk, GtkUiContract, testing::ValuesIn(uiContractCases()), uiContractCaseName);

class GtkWidgets : public testing::Test {
 protected:
  void SetUp() override {
    if (!user_.open()) GTEST_SKIP() << "no X display";
    drain();
  }
  void TearDown() override { user_.close(); }

  // The events of one control until a wait of 150 ms brings no more.
  static int eventsOf(int32_t control) {
    int count = 0;
    for (UiEvent event = waitEvent(150); event.kind != EventKind::noEvent; event = waitEvent(150))
      if (event.kind == EventKind::controlEvent && event.control == control) ++count;
    return count;
  }
  static void drain() { eventsOf(-1); }

  GtkUser user_;
};

// The tree view reports the removal of a selected row as a change of the
// selection, and moves its cursor when the cursor row goes; a system list
// does neither, so removeItem reports nothing at all here.
TEST_F(GtkWidgets, RemoveItemReportsNoEventOfTheList) {
  for (const int32_t row : {0, 1, 3}) {
    SCOPED_TRACE(row);
    for (int i = 0; i < 10; ++i) removeItem(AccountList, 0);
    for (const char* name : {"Anna", "Bolek", "Cezary", "Dorota"}) appendItem(AccountList, name);
    user_.clickRow(AccountList, row);
    ASSERT_EQ(selectedIndex(AccountList), row);
    drain();
    removeItem(AccountList, row == 3 ? 0 : 3);  // another row
    EXPECT_EQ(eventsOf(AccountList), 0) << "removing another row";
    removeItem(AccountList, row == 3 ? 2 : row);  // the picked row
    EXPECT_EQ(eventsOf(AccountList), 0) << "removing the picked row";
    EXPECT_EQ(selectedIndex(AccountList), -1);
  }
}

TEST_F(GtkWidgets, AWaitWithoutEventsLastsItsTimeOut) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitEvent(100).kind, EventKind::noEvent);
  // The main loop's own time-out, not an early return.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

}  // namespace
