// The control operations of the GTK back-end on real widgets: what the
// program reads back after it changes items, selections and texts, and what
// every operation does with a number that names no control. Needs an X
// display; e2e/run.sh runs it inside its X server (harness test
// test_gtk_back_end_operations). Without a display every test is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/ui.h"
#include "text/cp1250.h"

namespace {

bool windowsOpen = false;

class GtkBackEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!windowsOpen && startUi() && openMainWindow()) {
      openSettingsWindow();
      windowsOpen = true;
    }
  }
  void SetUp() override {
    if (!windowsOpen) GTEST_SKIP() << "no X display";
    for (int32_t list : {AccountCombo, ZoneCombo, KindCombo, AccountList}) clear(list);
    drainEvents();
  }
  // There is no "remove all": the program never needs it.
  static void clear(int32_t control) {
    for (int i = 0; i < 50; ++i) removeItem(control, 0);
  }
  static void fill(int32_t control, const std::vector<std::string>& items) {
    for (const std::string& item : items) appendItem(control, item);
  }
  static void drainEvents() {
    while (waitEvent(0).kind != EventKind::noEvent) {
    }
  }
};

const std::vector<std::string> kZones = {"1s", "2s", "3s", "4s", "5s"};

TEST_F(GtkBackEnd, DropDownStartsWithoutSelectionAndAppendKeepsIt) {
  EXPECT_EQ(selectedIndex(ZoneCombo), -1);
  EXPECT_EQ(controlText(ZoneCombo), "");
  fill(ZoneCombo, kZones);
  EXPECT_EQ(selectedIndex(ZoneCombo), -1);
  selectIndex(ZoneCombo, 3);
  appendItem(ZoneCombo, "6s");
  EXPECT_EQ(selectedIndex(ZoneCombo), 3);
  EXPECT_EQ(controlText(ZoneCombo), "4s");
}

TEST_F(GtkBackEnd, SelectIndexOutsideTheItemsLeavesNoSelection) {
  for (int32_t control : {ZoneCombo, AccountList}) {
    fill(control, kZones);
    for (int32_t outside : {5, -1, 1000, -7}) {
      selectIndex(control, 2);
      ASSERT_EQ(selectedIndex(control), 2) << control;
      selectIndex(control, outside);
      EXPECT_EQ(selectedIndex(control), -1) << control << " index " << outside;
    }
  }
  EXPECT_EQ(controlText(ZoneCombo), "");
}

TEST_F(GtkBackEnd, RemoveItemMovesTheSelectionWithItsItemOrClearsIt) {
  for (int32_t control : {AccountCombo, AccountList}) {
    fill(control, {"Anna", "Bolek", "Cezary"});
    selectIndex(control, 1);
    removeItem(control, 0);  // above the selection: it moves up with Bolek
    EXPECT_EQ(selectedIndex(control), 0) << control;
    removeItem(control, 5);  // no such item: nothing changes
    removeItem(control, -1);
    EXPECT_EQ(selectedIndex(control), 0) << control;
    removeItem(control, 0);  // the selected item itself
    EXPECT_EQ(selectedIndex(control), -1) << control;
    selectIndex(control, 0);
    EXPECT_EQ(selectedIndex(control), 0) << control << ": Cezary is left";
  }
  EXPECT_EQ(controlText(AccountCombo), "Cezary");
}

TEST_F(GtkBackEnd, ControlTextOfAnEmptyDropDownIsEmpty) {
  EXPECT_EQ(controlText(AccountCombo), "");
  EXPECT_EQ(selectedIndex(AccountCombo), -1);
}

TEST_F(GtkBackEnd, TextsKeepTheirWindows1250Bytes) {
  // "Paweł Żółć" as Windows-1250 bytes, and a link far longer than the field.
  const std::string polish = utf8ToCp1250("Paweł Żółć");
  ASSERT_EQ(polish.size(), 10u);
  std::string link = "http://127.0.0.1:8080/";
  link.append(400, 'a');
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {LinkField, link}, {NewAccountField, polish}, {LuckField, ""}, {ResultLabel, polish + "\nwiersz 2"}};
  for (const auto& [control, text] : cases) {
    setControlText(control, text);
    EXPECT_EQ(controlText(control), text) << control;
  }
  appendItem(AccountCombo, polish);
  appendItem(AccountList, polish);
  selectIndex(AccountCombo, 0);
  EXPECT_EQ(controlText(AccountCombo), polish);
}

TEST_F(GtkBackEnd, NumbersThatNameNoControlDoNothing) {
  for (int32_t control : {-1, 20, 21, 1000}) {
    selectIndex(control, 0);
    setControlText(control, "x");
    appendItem(control, "x");
    removeItem(control, 0);
    EXPECT_EQ(selectedIndex(control), 0) << control;
    EXPECT_EQ(controlText(control), "") << control;
  }
}

TEST_F(GtkBackEnd, WaitWithoutEventsReturnsNoEventWithinItsTimeOut) {
  const auto start = std::chrono::steady_clock::now();
  const UiEvent event = waitEvent(100);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(event.kind, EventKind::noEvent);
  // Generous: the wait must end by its time-out, not hang on the main loop.
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
  EXPECT_GE(elapsed, std::chrono::milliseconds(90));
}

// Runs last (gtest keeps the order within a file): after destroyWindows no
// control exists any more.
TEST_F(GtkBackEnd, ZzAfterDestroyWindowsNoControlExists) {
  fill(ZoneCombo, kZones);
  selectIndex(ZoneCombo, 1);
  destroyWindows();
  windowsOpen = false;
  EXPECT_EQ(selectedIndex(ZoneCombo), 0);
  EXPECT_EQ(controlText(ZoneCombo), "");
  EXPECT_EQ(controlText(LinkField), "");
  setControlText(ResultLabel, "x");
  EXPECT_EQ(waitEvent(10).kind, EventKind::noEvent);
}

}  // namespace
