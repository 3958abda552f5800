// saveAccounts replaces konta.txt whole or not at all: whichever file call
// fails, the old file stays byte for byte, the message shows, no temporary
// file is left, and the next save goes through. And a konta.txt that is there
// but cannot be read is never replaced in that run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/konta_file.h"
#include "model/state.h"
#include "model/texts.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "support/fs_faults.h"
#include "support/temp_dir.h"

namespace {

// Not in the form a save writes, so that any rewrite shows.
const std::string kOldFile = "2\r\n7\r\n11\r\nAnna\r\n0\r\n10\r\n0\r\n9\r\n-22\r\nBolek\r\n1\r\n20\r\n1\r\nleft over\r\n";
const std::vector<Account> kNew = {{11, "Anna", 0, 10, 0}, {-22, "Bolek", 4, 44, 2}};
const size_t kNewLines = 13;

class KontaSaveFaults : public testing::Test {
 protected:
  void SetUp() override {
    memui::reset();
    ASSERT_TRUE(openMainWindow());
    openSettingsWindow();
    initState(state);
    dir.write("konta.txt", kOldFile);
    loadAccounts(state);
    ASSERT_EQ(state.accountCount, 2);
    state.AccountTable[1] = kNew[1];
  }
  void TearDown() override { destroyWindows(); }

  size_t settingsFileErrors() const {
    size_t count = 0;
    for (const memui::Message& m : memui::messages())
      if (m.title == txt::ErrorTitle && m.text == txt::SettingsFileError) ++count;
    EXPECT_EQ(count, memui::messages().size());
    return count;
  }
  void expectOldFileKept() const {
    EXPECT_EQ(dir.read("konta.txt"), kOldFile);
    EXPECT_FALSE(dir.has("konta.txt.tmp"));
    EXPECT_EQ(settingsFileErrors(), 1u);
  }
  void expectNextSaveGoesThrough() {
    saveAccounts(state);
    EXPECT_EQ(dir.read("konta.txt"), formatKonta(kNew));
    EXPECT_FALSE(dir.has("konta.txt.tmp"));
    EXPECT_EQ(settingsFileErrors(), 1u);
  }

  TempCwd dir;
  AppState state;
};

}  // namespace

TEST_F(KontaSaveFaults, EachWriteFailing) {
  for (size_t n = 1; n <= kNewLines; ++n) {
    SCOPED_TRACE(n);
    memui::reset();
    {
      FsFaults faults;
      faults.failNth(FsCall::Write, static_cast<int>(n));
      saveAccounts(state);
      EXPECT_EQ(faults.calls(FsCall::Write), static_cast<int>(n));
      EXPECT_EQ(faults.calls(FsCall::Rename), 0);
    }
    expectOldFileKept();
  }
  expectNextSaveGoesThrough();
}

TEST_F(KontaSaveFaults, OneFailingCall) {
  const FsCall calls[] = {FsCall::Open, FsCall::Flush, FsCall::Close, FsCall::Rename};
  for (const FsCall call : calls) {
    SCOPED_TRACE(static_cast<int>(call));
    memui::reset();
    {
      FsFaults faults;
      faults.failNth(call, 1);
      saveAccounts(state);
      EXPECT_EQ(faults.calls(call), 1);
    }
    expectOldFileKept();
  }
  expectNextSaveGoesThrough();
}

TEST_F(KontaSaveFaults, ShortWriteIsCompletedAndAFullDiskIsAFailure) {
  {
    FsFaults faults;
    faults.shortWriteNth(4, 2);  // "Anna\r\n" goes out in two parts
    saveAccounts(state);
  }
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(kNew));
  EXPECT_TRUE(memui::messages().empty());

  dir.write("konta.txt", kOldFile);
  {
    FsFaults faults;
    faults.shortWriteNth(4, 2);
    faults.failNth(FsCall::Write, 5);  // the rest of the line finds the disk full
    saveAccounts(state);
  }
  expectOldFileKept();
}

TEST_F(KontaSaveFaults, TemporaryFileThatCannotBeRemovedIsTakenByTheNextSave) {
  {
    FsFaults faults;
    faults.failNth(FsCall::Flush, 1);
    faults.failNth(FsCall::Remove, 1);
    saveAccounts(state);
  }
  EXPECT_EQ(dir.read("konta.txt"), kOldFile);
  EXPECT_EQ(settingsFileErrors(), 1u);
  expectNextSaveGoesThrough();
}

TEST_F(KontaSaveFaults, UnreadableKontaIsNeverReplaced) {
  memui::reset();
  initState(state);
  {
    FsFaults faults;
    faults.failNth(FsCall::Open, 1);  // the file is there, but opening it fails
    loadAccounts(state);
    EXPECT_TRUE(state.accountsFileUnreadable);
    EXPECT_EQ(state.accountCount, 0);

    state.AccountTable[0] = kNew[0];
    state.accountCount = 1;
    saveAccounts(state);
    saveAccounts(state);
    EXPECT_EQ(faults.calls(FsCall::Open), 1);  // the saves do not even try
  }
  EXPECT_EQ(settingsFileErrors(), 3u);
  EXPECT_EQ(dir.read("konta.txt"), kOldFile);
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
}

TEST_F(KontaSaveFaults, MissingKontaIsCreatedByTheFirstSave) {
  memui::reset();
  initState(state);
  ASSERT_TRUE(std::filesystem::remove(dir.path() / "konta.txt"));
  loadAccounts(state);
  EXPECT_FALSE(state.accountsFileUnreadable);
  EXPECT_EQ(settingsFileErrors(), 1u);
  state.AccountTable[0] = kNew[0];
  state.AccountTable[1] = kNew[1];
  state.accountCount = 2;
  expectNextSaveGoesThrough();
}
