// Start-up, the event loop and shut-down, run for real over the in-memory
// back-end: events are scripted, controls and files are checked. What the
// back-end's control operations do is the contract in tests/ui_contract.
#include <gtest/gtest.h>

#include "app/app.h"
#include "model/controls.h"
#include "model/texts.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace {

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override { memui::reset(); }
  void TearDown() override { memui::reset(); }

  TempCwd dir_;
  AppState state_;
};

TEST_F(AppTest, FreshStartShowsBothWindowsWithFirstTextsAndZeroedSlot) {
  ASSERT_TRUE(startUp(state_));
  EXPECT_TRUE(memui::windowOpen(MainWindow));
  EXPECT_TRUE(memui::windowOpen(SettingsWindow));
  for (const ControlSpec& layout : kControls) {
    ASSERT_TRUE(memui::exists(layout.number)) << layout.name;
    if (layout.kind == ControlKind::Label || layout.kind == ControlKind::PushButton) {
      EXPECT_EQ(memui::shownText(layout.number), *layout.firstText) << layout.name;
    }
  }
  EXPECT_EQ(memui::items(ZoneCombo), std::vector<std::string>(std::begin(txt::ZoneItems), std::end(txt::ZoneItems)));
  EXPECT_EQ(memui::items(KindCombo), std::vector<std::string>(std::begin(txt::KindItems), std::end(txt::KindItems)));
  // No konta.txt: the zeroed slot 0 is shown.
  EXPECT_EQ(state_.accountCount, 0);
  EXPECT_EQ(controlText(ZoneCombo), txt::ZoneItems[0]);
  EXPECT_EQ(controlText(KindCombo), txt::KindItems[0]);
  EXPECT_EQ(controlText(LuckField), "0");
  EXPECT_EQ(selectedIndex(AccountCombo), -1);
  EXPECT_TRUE(memui::items(AccountCombo).empty());
  EXPECT_TRUE(memui::items(AccountList).empty());
  // The attribute names, slot 9 left empty.
  EXPECT_EQ(state_.StatNames[3], txt::StatNames[3]);
  EXPECT_EQ(state_.StatNames[8], txt::StatNames[8]);
  EXPECT_TRUE(state_.StatNames[9].empty());
  EXPECT_EQ(state_.pendingCount, 0);
}

TEST_F(AppTest, AccountsFromKontaAreShownAfterStartUp) {
  dir_.write("konta.txt", "2\r\n0\r\n0\r\nAnna\r\n3\r\n0\r\n1\r\n1\r\n0\r\nBolek\r\n0\r\n15\r\n2\r\n");
  ASSERT_TRUE(startUp(state_));
  EXPECT_EQ(memui::items(AccountCombo), (std::vector<std::string>{"Anna", "Bolek"}));
  EXPECT_EQ(memui::items(AccountList), (std::vector<std::string>{"Anna", "Bolek"}));
  EXPECT_EQ(controlText(AccountCombo), "Anna");
  EXPECT_EQ(controlText(ZoneCombo), txt::ZoneItems[3]);
  EXPECT_EQ(controlText(KindCombo), txt::KindItems[1]);
  EXPECT_EQ(controlText(LuckField), "0");
  EXPECT_EQ(state_.currentAccount, 0);
  EXPECT_TRUE(memui::messages().empty());
}

TEST_F(AppTest, MainWindowFailureShowsFatalMessageAndSavesNothing) {
  dir_.write("konta.txt", "1\r\n0\r\n7\r\nAnna\r\n1\r\n2\r\n0\r\n");
  const std::string before = dir_.read("konta.txt");
  memui::failMainWindow(true);
  EXPECT_EQ(runProgram(state_), 0);
  ASSERT_EQ(memui::messages().size(), 1u);
  EXPECT_EQ(memui::messages()[0].title, txt::FatalTitle);
  EXPECT_EQ(memui::messages()[0].text, txt::FatalText);
  EXPECT_EQ(memui::waitCount(), 0);  // the loop never ran
  for (int32_t c = 0; c < kControlCount; ++c) EXPECT_FALSE(memui::exists(c));
  EXPECT_EQ(dir_.read("konta.txt"), before);
  EXPECT_TRUE(memui::windowsDestroyed());
}

TEST_F(AppTest, WithoutSettingsWindowItsControlsDoNothing) {
  memui::failSettingsWindow(true);
  ASSERT_TRUE(startUp(state_));
  for (int32_t c = AccountListLabel; c <= AddButton; ++c) {
    EXPECT_FALSE(memui::exists(c));
    appendItem(c, "x");
    setControlText(c, "x");
    selectIndex(c, 0);
    EXPECT_EQ(selectedIndex(c), 0);
    EXPECT_EQ(controlText(c), "");
  }
  // Its buttons cannot be reached, and the main window goes on working.
  memui::userType(LuckField, "12");
  memui::userClose(MainWindow);
  runEventLoop(state_);
  EXPECT_EQ(state_.AccountTable[0].luck, 12);
}

TEST_F(AppTest, LoopWaitsInStepsOf100msAndOnlyMainWindowCloseEndsIt) {
  memui::closeWhenIdle(false);
  ASSERT_TRUE(startUp(state_));
  int waits = 0;
  memui::onWait([&] {
    ++waits;
    if (waits == 3) memui::userClose(SettingsWindow);
    if (waits == 6) memui::userClose(MainWindow);
  });
  runEventLoop(state_);
  EXPECT_EQ(waits, 6);
  EXPECT_EQ(memui::lastWaitTimeout(), 100);
  EXPECT_TRUE(memui::windowOpen(SettingsWindow));
}

TEST_F(AppTest, CloseOfMainWindowSavesAccountsAndEndsWithZero) {
  dir_.write("konta.txt", "1\n0\n-5\n Anna \n1\n2\n0\n");
  bool scripted = false;
  memui::onWait([&] {
    if (scripted) return;
    scripted = true;
    memui::userChoose(ZoneCombo, 4);
    memui::userType(LuckField, "300");  // the low 8 bits: 44
    memui::userChoose(KindCombo, 2);
    memui::userClose(SettingsWindow);  // changes nothing
  });
  EXPECT_EQ(runProgram(state_), 0);
  EXPECT_EQ(dir_.read("konta.txt"), "1\r\n0\r\n-5\r\n Anna \r\n4\r\n44\r\n2\r\n");
  EXPECT_TRUE(memui::windowsDestroyed());
}

// Control 12: once the check is over, whatever its outcome, the accounts
// are saved, so an edit of LuckField made before it reaches konta.txt.
TEST_F(AppTest, ACheckSavesTheAccountsWhateverItsOutcome) {
  const std::string links[] = {"", "nie link",
                               "http://127.0.0.1:" + std::to_string(HttpTestServer::unusedPort()) + "/r"};
  for (const std::string& link : links) {
    SCOPED_TRACE(link);
    memui::reset();
    dir_.write("konta.txt", "1\r\n0\r\n0\r\nAnna\r\n3\r\n9\r\n1\r\n");
    ASSERT_TRUE(startUp(state_));
    setControlText(LuckField, "44");
    dispatchControlEvent(state_, LuckField);
    EXPECT_EQ(dir_.read("konta.txt"), "1\r\n0\r\n0\r\nAnna\r\n3\r\n9\r\n1\r\n");  // not saved yet
    setControlText(LinkField, link);
    dispatchControlEvent(state_, CheckButton);
    EXPECT_EQ(memui::shownText(ResultLabel), txt::DownloadFailed);
    EXPECT_EQ(dir_.read("konta.txt"), "1\r\n0\r\n0\r\nAnna\r\n3\r\n44\r\n1\r\n");
    EXPECT_TRUE(memui::messages().empty());
    destroyWindows();
  }
}

TEST_F(AppTest, DispatchConditionsAndInertControls) {
  dir_.write("konta.txt", "1\r\n0\r\n0\r\nAnna\r\n3\r\n9\r\n1\r\n");
  ASSERT_TRUE(startUp(state_));
  const AppState before = state_;
  // Labels, LinkField, ResultLabel, NewAccountField: their events change nothing.
  for (int32_t c : {AccountLabel, ZoneLabel, LuckLabel, KindLabel, LinkLabel, LinkField, ResultCaptionLabel,
                    ResultLabel, AccountListLabel, NewAccountLabel, NewAccountField})
    memui::userClick(c);
  // Add with an empty field and Delete with no selection do nothing at all.
  memui::userClick(AddButton);
  memui::userClick(DeleteButton);
  memui::userClick(AccountList);  // no selection: nothing
  memui::closeWhenIdle(false);
  const std::string kontaBefore = dir_.read("konta.txt");
  memui::onWait([&] {
    if (memui::queuedEvents() == 0) {
      // Everything above has run: konta.txt is untouched and no box showed.
      EXPECT_EQ(dir_.read("konta.txt"), kontaBefore);
      memui::userClose(MainWindow);
    }
  });
  runEventLoop(state_);
  EXPECT_TRUE(memui::messages().empty());
  EXPECT_EQ(state_.accountCount, before.accountCount);
  EXPECT_EQ(state_.AccountTable[0].name, "Anna");
  EXPECT_EQ(state_.AccountTable[0].luck, 9);
  EXPECT_EQ(memui::items(AccountList), std::vector<std::string>{"Anna"});
}

}  // namespace
