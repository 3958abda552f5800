// Account management through the real start-up, event loop and dispatch over
// the in-memory windows: scripted user actions, then the controls, the table
// and konta.txt are checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "accounts/konta_file.h"
#include "app/app.h"
#include "model/state.h"
#include "model/texts.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "support/temp_dir.h"

namespace {

const Account kA{11, "Anna", 0, 10, 0};
const Account kB{-22, "Bolek", 1, 20, 1};
const Account kC{33, "Celina", 2, 30, 2};

std::vector<std::string> namesOf(const std::vector<Account>& accounts) {
  std::vector<std::string> names;
  for (const Account& a : accounts) names.push_back(a.name);
  return names;
}

bool sameAccount(const Account& a, const Account& b) {
  return a.tag == b.tag && a.name == b.name && a.zone == b.zone && a.luck == b.luck && a.kind == b.kind;
}

class AccountScenario : public testing::Test {
 protected:
  void SetUp() override { memui::reset(); }
  void TearDown() override {
    if (!memui::windowsDestroyed()) destroyWindows();
  }

  // konta.txt with these accounts, then start-up.
  void startWith(const std::vector<Account>& accounts) {
    dir.write("konta.txt", formatKonta(accounts));
    start();
  }
  void start() { ASSERT_TRUE(startUp(state)); }
  // Runs the loop over the queued events; the in-memory windows deliver a
  // close of MainWindow once the queue is empty, which ends the loop.
  void run() { runEventLoop(state); }
  void close() { shutDown(state, true); }

  std::vector<Account> table() const {
    return {state.AccountTable.begin(), state.AccountTable.begin() + state.accountCount};
  }
  // MainWindow shows the account: its name selected, its defaults in the controls.
  void expectShown(int32_t slot, const Account& account) const {
    EXPECT_EQ(selectedIndex(AccountCombo), slot);
    EXPECT_EQ(controlText(AccountCombo), account.name);
    EXPECT_EQ(selectedIndex(ZoneCombo), account.zone);
    EXPECT_EQ(selectedIndex(KindCombo), account.kind);
    EXPECT_EQ(controlText(LuckField), std::to_string(account.luck));
    EXPECT_EQ(state.currentAccount, slot);
  }
  void expectTable(const std::vector<Account>& accounts) const {
    const std::vector<Account> actual = table();
    ASSERT_EQ(actual.size(), accounts.size());
    for (size_t i = 0; i < accounts.size(); ++i) EXPECT_TRUE(sameAccount(actual[i], accounts[i])) << "slot " << i;
    EXPECT_EQ(memui::items(AccountCombo), namesOf(accounts));
    EXPECT_EQ(memui::items(AccountList), namesOf(accounts));
  }
  void expectOneMessage(const std::string& title, const std::string& text) const {
    ASSERT_EQ(memui::messages().size(), 1u);
    EXPECT_EQ(memui::messages()[0].title, title);
    EXPECT_EQ(memui::messages()[0].text, text);
  }

  TempCwd dir;
  AppState state;
};

}  // namespace

TEST_F(AccountScenario, StartWithoutKontaThenAddAndCloseLeavesThatOneAccount) {
  bool checkedStart = false;
  memui::onWait([&] {
    if (checkedStart) return;
    checkedStart = true;
    // The loop runs with no accounts and the zeroed slot 0 on show.
    EXPECT_EQ(state.accountCount, 0);
    EXPECT_TRUE(memui::items(AccountCombo).empty());
    EXPECT_TRUE(memui::items(AccountList).empty());
    EXPECT_EQ(selectedIndex(AccountCombo), -1);
    EXPECT_EQ(controlText(ZoneCombo), txt::ZoneItems[0]);
    EXPECT_EQ(controlText(KindCombo), txt::KindItems[0]);
    EXPECT_EQ(controlText(LuckField), "0");
    memui::userType(NewAccountField, "Anna");
    memui::userClick(AddButton);
  });
  EXPECT_EQ(runProgram(state), 0);
  EXPECT_TRUE(checkedStart);
  expectOneMessage(txt::ErrorTitle, txt::SettingsFileError);
  EXPECT_EQ(dir.read("konta.txt"), "1\r\n0\r\n0\r\nAnna\r\n3\r\n0\r\n1\r\n");
}

TEST_F(AccountScenario, StartUpShowsTheFirstAccount) {
  startWith({kB, kC});
  expectTable({kB, kC});
  expectShown(0, kB);
  EXPECT_EQ(selectedIndex(AccountList), -1);
  EXPECT_TRUE(memui::messages().empty());
}

TEST_F(AccountScenario, DeletingOneOfThreeKeepsTheOthersInOrder) {
  struct Case {
    int32_t position;
    std::vector<Account> left;
  };
  const Case cases[] = {{0, {kB, kC}}, {1, {kA, kC}}, {2, {kA, kB}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    memui::reset();
    initState(state);
    startWith({kA, kB, kC});
    memui::userChoose(AccountCombo, 2);  // the current account is not slot 0 before the delete
    memui::userChoose(AccountList, c.position);
    memui::userClick(DeleteButton);
    run();

    expectTable(c.left);
    expectShown(0, c.left[0]);
    EXPECT_EQ(selectedIndex(AccountList), -1);
    EXPECT_TRUE(memui::messages().empty());
    EXPECT_EQ(dir.read("konta.txt"), formatKonta(c.left));

    // Edits now go into slot 0.
    memui::userChoose(ZoneCombo, 4);
    memui::userType(LuckField, "77");
    memui::userChoose(KindCombo, 2);
    run();
    Account edited = c.left[0];
    edited.zone = 4;
    edited.luck = 77;
    edited.kind = 2;
    expectTable({edited, c.left[1]});
    close();
    EXPECT_EQ(dir.read("konta.txt"), formatKonta(std::vector<Account>{edited, c.left[1]}));
  }
}

TEST_F(AccountScenario, DeletingTheOnlyAccountIsRefusedAndStillSaves) {
  // Not in the form a save writes, so the save after the refusal shows.
  dir.write("konta.txt", "1\r\n7\r\n11\r\nAnna\r\n0\r\n10\r\n0\r\nleft over\r\n");
  start();
  memui::userChoose(AccountList, 0);
  memui::userClick(DeleteButton);
  run();

  expectOneMessage(txt::AccountsTitle, txt::KeepOneAccount);
  expectTable({kA});
  expectShown(0, kA);
  EXPECT_EQ(selectedIndex(AccountList), 0);
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(std::vector<Account>{kA}));
}

TEST_F(AccountScenario, AddAppendsWithDefaultsAndDoesNotSelect) {
  startWith({kA, kB});
  memui::userChoose(AccountCombo, 1);
  memui::userType(NewAccountField, "Xawery");
  memui::userClick(AddButton);
  run();

  const Account x{0, "Xawery", 3, 0, 1};
  expectTable({kA, kB, x});
  expectShown(1, kB);
  EXPECT_EQ(memui::shownText(NewAccountField), "");
  EXPECT_TRUE(memui::messages().empty());
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(std::vector<Account>{kA, kB, x}));
}

TEST_F(AccountScenario, AddWhenNoneExistsFillsSlotZeroAndKeepsTheControls) {
  dir.write("konta.txt", "0\r\n");
  start();
  memui::userChoose(ZoneCombo, 2);  // goes into the unsaved slot 0
  memui::userType(LuckField, "5");
  memui::userType(NewAccountField, "Anna");
  memui::userClick(AddButton);
  run();

  expectTable({{0, "Anna", 3, 0, 1}});
  EXPECT_EQ(state.currentAccount, 0);
  EXPECT_EQ(selectedIndex(AccountCombo), -1);
  EXPECT_EQ(selectedIndex(ZoneCombo), 2);
  EXPECT_EQ(controlText(LuckField), "5");
  EXPECT_EQ(dir.read("konta.txt"), "1\r\n0\r\n0\r\nAnna\r\n3\r\n0\r\n1\r\n");

  // Picking it shows its own defaults.
  memui::userChoose(AccountCombo, 0);
  run();
  expectShown(0, {0, "Anna", 3, 0, 1});
}

TEST_F(AccountScenario, LuckKeepsTheLowEightBitsAndTheFieldKeepsItsText) {
  struct Case {
    const char* typed;
    uint8_t stored;
  };
  const Case cases[] = {{"300", 44}, {"256", 0}, {"-1", 255}, {"abc", 0}, {" 12 dni", 12}, {"$ff", 255}};
  startWith({kA, kB});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    memui::userType(LuckField, c.typed);
    run();
    EXPECT_EQ(state.AccountTable[0].luck, c.stored);
    EXPECT_EQ(controlText(LuckField), c.typed);
  }

  memui::userType(LuckField, "300");
  memui::userChoose(AccountCombo, 1);
  run();
  expectShown(1, kB);
  memui::userChoose(AccountCombo, 0);
  run();
  EXPECT_EQ(controlText(LuckField), "44");
  EXPECT_TRUE(sameAccount(state.AccountTable[1], kB));
  close();
  Account a = kA;
  a.luck = 44;
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(std::vector<Account>{a, kB}));
}

TEST_F(AccountScenario, ChoiceListsWithoutSelectionStore255) {
  startWith({kA});
  memui::userChoose(ZoneCombo, -1);
  memui::userChoose(KindCombo, -1);
  run();
  EXPECT_EQ(state.AccountTable[0].zone, 255);
  EXPECT_EQ(state.AccountTable[0].kind, 255);
}

TEST_F(AccountScenario, ZoneAndKindOutOfRangeLeaveNoSelection) {
  const Account odd{0, "Odd", 7, 1, 9};
  startWith({kA, odd});
  memui::userChoose(AccountList, 1);
  run();
  EXPECT_EQ(selectedIndex(ZoneCombo), -1);
  EXPECT_EQ(selectedIndex(KindCombo), -1);
  EXPECT_EQ(controlText(LuckField), "1");
  EXPECT_EQ(state.currentAccount, 1);
  close();
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(std::vector<Account>{kA, odd}));
}

TEST_F(AccountScenario, PickingInAccountListSelectsButLeavesItsOwnSelection) {
  startWith({kA, kB, kC});
  memui::userChoose(AccountList, 2);
  run();
  expectShown(2, kC);
  EXPECT_EQ(selectedIndex(AccountList), 2);

  memui::userChoose(AccountCombo, 1);
  run();
  expectShown(1, kB);
  EXPECT_EQ(selectedIndex(AccountList), 2);
  expectTable({kA, kB, kC});  // selecting changes no account
}

TEST_F(AccountScenario, EventsWithoutASelectionChangeNothing) {
  dir.write("konta.txt", "0\r\n");
  start();
  memui::userType(LuckField, "abc");
  memui::userClick(AccountCombo);  // no items, so no selection
  run();
  EXPECT_EQ(controlText(LuckField), "abc");
  EXPECT_EQ(state.currentAccount, 0);
  EXPECT_EQ(selectedIndex(AccountCombo), -1);
}

TEST_F(AccountScenario, AddWithEmptyFieldAndDeleteWithoutSelectionWriteNothing) {
  const std::string file = "2\r\n7\r\n11\r\nAnna\r\n0\r\n10\r\n0\r\n1\r\n-22\r\nBolek\r\n1\r\n20\r\n1\r\nextra\r\n";
  dir.write("konta.txt", file);
  start();
  memui::userClick(AddButton);
  memui::userClick(DeleteButton);
  memui::userClick(AccountList);
  memui::userClick(NewAccountField);
  memui::userClick(LinkField);
  memui::userClose(SettingsWindow);
  run();

  EXPECT_EQ(dir.read("konta.txt"), file);
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
  EXPECT_TRUE(memui::messages().empty());
  expectTable({kA, kB});
  expectShown(0, kA);
}

TEST_F(AccountScenario, DefaultsChangedInMainWindowAreSavedAtClose) {
  startWith({kA, kB});
  memui::userChoose(AccountCombo, 1);
  run();  // the selection sets the three controls, so choose in them after it
  memui::userChoose(ZoneCombo, 4);
  memui::userType(LuckField, "99");
  memui::userChoose(KindCombo, 0);
  run();
  close();
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(std::vector<Account>{kA, {-22, "Bolek", 4, 99, 0}}));
}

TEST_F(AccountScenario, SixthAccountIsRefusedAndTheSaveStillRuns) {
  std::vector<Account> five = {kA, kB, kC, {4, "D", 0, 0, 0}, {5, "E", 4, 255, 2}};
  std::string file = formatKonta(five) + "trailing\r\n";
  dir.write("konta.txt", file);
  start();
  memui::userType(NewAccountField, "Franek");
  memui::userClick(AddButton);
  run();

  expectOneMessage(txt::AccountsTitle, txt::AtMostFiveAccounts);
  expectTable(five);
  expectShown(0, kA);
  EXPECT_EQ(memui::shownText(NewAccountField), "Franek");
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(five));
}

TEST_F(AccountScenario, NameThatCannotBeAFileNameIsRefused) {
  for (const char* name : {"a/b", "konta", "CON", "x:y", "tab\tname"}) {
    SCOPED_TRACE(name);
    memui::reset();
    initState(state);
    dir.write("konta.txt", formatKonta(std::vector<Account>{kA}) + "trailing\r\n");
    start();
    memui::userType(NewAccountField, name);
    memui::userClick(AddButton);
    run();

    expectOneMessage(txt::ErrorTitle, txt::NotAFileName);
    expectTable({kA});
    EXPECT_EQ(memui::shownText(NewAccountField), name);  // kept for the user to correct
    EXPECT_EQ(dir.read("konta.txt"), formatKonta(std::vector<Account>{kA}));
  }
}

TEST_F(AccountScenario, KontaThatCannotBeReadIsNeverReplaced) {
  // A folder named konta.txt exists but cannot be read as the file.
  std::filesystem::create_directory(dir.path() / "konta.txt");
  std::filesystem::path inside = dir.path() / "konta.txt" / "keep";
  dir.write("konta.txt/keep", "x");
  start();
  expectOneMessage(txt::ErrorTitle, txt::SettingsFileError);
  EXPECT_TRUE(state.accountsFileUnreadable);
  EXPECT_EQ(state.accountCount, 0);

  memui::userType(NewAccountField, "Anna");
  memui::userClick(AddButton);
  run();
  expectTable({{0, "Anna", 3, 0, 1}});
  close();

  ASSERT_EQ(memui::messages().size(), 3u);  // start-up, the save after the add, the save at close
  for (const memui::Message& message : memui::messages()) {
    EXPECT_EQ(message.title, txt::ErrorTitle);
    EXPECT_EQ(message.text, txt::SettingsFileError);
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "konta.txt"));
  EXPECT_TRUE(std::filesystem::exists(inside));
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
}

TEST_F(AccountScenario, FailedStartUpSavesNothing) {
  const std::string file = formatKonta(std::vector<Account>{kA, kB});
  dir.write("konta.txt", file);
  memui::failMainWindow(true);
  EXPECT_EQ(runProgram(state), 0);
  expectOneMessage(txt::FatalTitle, txt::FatalText);
  EXPECT_EQ(dir.read("konta.txt"), file);
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
}
