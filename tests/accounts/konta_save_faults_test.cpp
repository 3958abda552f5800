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
#include "support/fifo.h"
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

namespace {
namespace fs = std::filesystem;
constexpr fs::perms kAnyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
}  // namespace

// A konta.txt that may not be written (read-only: no write permission at
// all on POSIX, the read-only attribute on Windows) is left as it is, and
// each save says so. No temporary file is even written for it.
TEST_F(KontaSaveFaults, ReadOnlyKontaIsLeftAsItIs) {
  const fs::path konta = dir.path() / "konta.txt";
  fs::permissions(konta, kAnyWrite, fs::perm_options::remove);
  {
    FsFaults faults;
    saveAccounts(state);
    saveAccounts(state);
    EXPECT_EQ(faults.calls(FsCall::Open), 0);
    EXPECT_EQ(faults.calls(FsCall::Rename), 0);
  }
  EXPECT_EQ(settingsFileErrors(), 2u);
  EXPECT_EQ(dir.read("konta.txt"), kOldFile);
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
  EXPECT_EQ(fs::status(konta).permissions() & kAnyWrite, fs::perms::none);

  // Writable again: the next save goes through.
  fs::permissions(konta, fs::perms::owner_write, fs::perm_options::add);
  saveAccounts(state);
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(kNew));
  EXPECT_EQ(settingsFileErrors(), 2u);
}

#ifndef _WIN32
TEST_F(KontaSaveFaults, TheNewFileKeepsTheOldOnesPermissionBits) {
  const fs::path konta = dir.path() / "konta.txt";
  for (const unsigned mode : {0600u, 0640u, 0604u, 0660u, 0200u}) {
    SCOPED_TRACE(mode);
    fs::permissions(konta, static_cast<fs::perms>(mode), fs::perm_options::replace);
    saveAccounts(state);
    EXPECT_EQ(fs::status(konta).permissions(), static_cast<fs::perms>(mode));
  }
  fs::permissions(konta, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
  EXPECT_EQ(dir.read("konta.txt"), formatKonta(kNew));
  EXPECT_TRUE(memui::messages().empty());
}

// konta.txt as a symbolic link (to a file kept elsewhere, say): the link is
// followed to the end of a chain, and the file it leads to is replaced, by a
// temporary file beside that file so that the rename stays atomic.
TEST_F(KontaSaveFaults, ALinkIsFollowedAndTheFileItLeadsToReplaced) {
  const fs::path konta = dir.path() / "konta.txt";
  const fs::path target = dir.path() / "gdzie" / "konta.txt";
  fs::create_directory(dir.path() / "gdzie");
  fs::rename(konta, target);
  fs::create_symlink("gdzie/konta.txt", dir.path() / "posredni.txt");
  fs::create_symlink("posredni.txt", konta);

  saveAccounts(state);
  EXPECT_TRUE(memui::messages().empty());
  ASSERT_TRUE(fs::is_symlink(konta));
  EXPECT_EQ(fs::read_symlink(konta), "posredni.txt");
  EXPECT_EQ(fs::read_symlink(dir.path() / "posredni.txt"), "gdzie/konta.txt");
  EXPECT_EQ(dir.read("gdzie/konta.txt"), formatKonta(kNew));
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
  EXPECT_FALSE(dir.has("gdzie/konta.txt.tmp"));

  // A temporary file that a failed save could not remove shows where it is
  // written: beside the target.
  {
    FsFaults faults;
    faults.failNth(FsCall::Rename, 1);
    faults.failNth(FsCall::Remove, 1);
    saveAccounts(state);
  }
  EXPECT_EQ(settingsFileErrors(), 1u);
  EXPECT_TRUE(dir.has("gdzie/konta.txt.tmp"));
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
  EXPECT_TRUE(fs::is_symlink(konta));
}

TEST_F(KontaSaveFaults, ALinkThatLeadsNowhereIsLeftAsItIs) {
  const fs::path konta = dir.path() / "konta.txt";
  fs::remove(konta);
  fs::create_symlink("gdzie/konta.txt", konta);
  saveAccounts(state);
  EXPECT_EQ(settingsFileErrors(), 1u);
  ASSERT_TRUE(fs::is_symlink(konta));
  EXPECT_EQ(fs::read_symlink(konta), "gdzie/konta.txt");
  EXPECT_FALSE(dir.has("gdzie"));
  EXPECT_FALSE(dir.has("konta.txt.tmp"));
}

// The temporary file is no regular file: the save fails at once, as for a
// temporary file that cannot be created, and leaves the FIFO alone.
TEST_F(KontaSaveFaults, ATemporaryFileThatIsAFifoFailsTheSave) {
  Fifo fifo(dir.path() / "konta.txt.tmp");
  ASSERT_TRUE(fifo.made());
  saveAccounts(state);
  EXPECT_EQ(settingsFileErrors(), 1u);
  EXPECT_EQ(dir.read("konta.txt"), kOldFile);
  EXPECT_TRUE(fs::is_fifo(dir.path() / "konta.txt.tmp"));
  EXPECT_FALSE(fifo.wasNeeded());
}
#endif
