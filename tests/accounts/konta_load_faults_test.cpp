// A konta.txt that opens but cannot be read as this program wrote it: a read
// that fails part-way, a count line without a number in front of records, a
// FIFO. Each loads no account, shows the message, and no save of that run
// touches the file, so the player's accounts are still there for the next.
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

std::string crlf(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

// Two accounts whose first name runs over the first 4096-byte block, so that
// reading it takes more than one read.
const std::string kLongName(5000, 'N');
const std::string kTwoAccounts =
    crlf({"2", "0", "7", kLongName, "1", "2", "0", "1", "0", "Bolek", "0", "15", "2"});

class KontaLoadFaults : public testing::Test {
 protected:
  void SetUp() override { startFresh(); }
  void TearDown() override { destroyWindows(); }

  void startFresh() {
    memui::reset();
    ASSERT_TRUE(openMainWindow());
    openSettingsWindow();
    initState(state);
  }

  size_t settingsFileErrors() const {
    size_t count = 0;
    for (const memui::Message& m : memui::messages())
      if (m.title == txt::ErrorTitle && m.text == txt::SettingsFileError) ++count;
    EXPECT_EQ(count, memui::messages().size());
    return count;
  }

  // What a konta.txt that cannot be read leaves: the message, no account in
  // the table or the lists; then the saves of that run (after an account
  // was added, at shut-down) each show the message and write nothing.
  void expectUnreadable(const std::string& kontaBefore) {
    EXPECT_TRUE(state.accountsFileUnreadable);
    EXPECT_EQ(state.accountCount, 0);
    EXPECT_TRUE(memui::items(AccountCombo).empty());
    EXPECT_TRUE(memui::items(AccountList).empty());
    EXPECT_EQ(settingsFileErrors(), 1u);

    setControlText(NewAccountField, "Nowe");
    addAccount(state);
    saveAccounts(state);
    saveAccounts(state);
    EXPECT_EQ(settingsFileErrors(), 3u);
    EXPECT_EQ(dir.read("konta.txt"), kontaBefore);
    EXPECT_FALSE(dir.has("konta.txt.tmp"));
  }

  TempCwd dir;
  AppState state;
};

}  // namespace

TEST_F(KontaLoadFaults, AReadThatFailsAnywhereMakesTheFileUnreadable) {
  dir.write("konta.txt", kTwoAccounts);
  int reads = 0;
  {
    FsFaults counting;
    loadAccounts(state);
    reads = counting.calls(FsCall::Read);
  }
  ASSERT_EQ(state.accountCount, 2);
  ASSERT_EQ(state.AccountTable[0].name, kLongName);
  ASSERT_GE(reads, 2);  // the long name spans two reads

  // The first read, the one in the middle of the long name, and any later.
  for (int n = 1; n <= reads; ++n) {
    SCOPED_TRACE("read " + std::to_string(n) + " of " + std::to_string(reads) + " fails");
    startFresh();
    {
      FsFaults faults;
      faults.failNth(FsCall::Read, n);
      loadAccounts(state);
      EXPECT_GE(faults.calls(FsCall::Read), n);
    }
    expectUnreadable(kTwoAccounts);
  }
}

TEST_F(KontaLoadFaults, ReadsThatKeepFailingAfterTheFirst) {
  dir.write("konta.txt", kTwoAccounts);
  {
    FsFaults faults;
    faults.failFrom(FsCall::Read, 2);
    loadAccounts(state);
  }
  expectUnreadable(kTwoAccounts);
}

TEST(KontaParse, WhetherTheCountLineHoldsANumber) {
  // As parseInteger reads: blanks, a sign, "$" or "%", then a digit of that base.
  for (const char* line : {"0", "2", "-1", "+3", " \t5", "3x", "$ff", "%10", "-$1"}) {
    EXPECT_TRUE(kontaCountLineHoldsNumber(line)) << line;
  }
  // "\x32" is "2": behind a UTF-8 byte-order mark, behind a no-break space.
  for (const char* line : {"", " ", "abc", "x2", "-", "$", "%2", "$g", "\xEF\xBB\xBF\x32", "\xA0\x32"}) {
    EXPECT_FALSE(kontaCountLineHoldsNumber(line)) << line;
  }
}

TEST_F(KontaLoadFaults, ACountLineWithoutANumberInFrontOfRecords) {
  const std::string records = crlf({"0", "0", "Anna", "3", "0", "1"});
  const std::string cases[] = {
      std::string("\xEF\xBB\xBF") + "1\r\n" + records,  // a UTF-8 byte-order mark, put there by an editor
      "x1\r\n" + records,  // a stray letter
      "\r\n" + records,    // an empty count line
      "abc\r\n\r\n",       // one more line, though an empty one
      std::string("\xEF\xBB\xBF") + "1\n0\n0\nAnna",  // LF line ends, no last line end
  };
  for (const std::string& file : cases) {
    SCOPED_TRACE(testing::PrintToString(file));
    startFresh();
    dir.write("konta.txt", file);
    loadAccounts(state);
    expectUnreadable(file);
  }
}

TEST_F(KontaLoadFaults, ACountLineAloneOrANumberInFrontLoadsAsBefore) {
  struct Case {
    std::string file;
    uint8_t accounts;
  };
  const Case cases[] = {
      {"", 0},
      {"0", 0},
      {"0\r\n", 0},
      {"abc", 0},  // no number, but nothing follows it either
      {"abc\r\n", 0},
      {"0\r\nleft over\r\n", 0},
      {" 1 konto\r\n0\r\n0\r\nAnna\r\n3\r\n0\r\n1\r\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    startFresh();
    dir.write("konta.txt", c.file);
    loadAccounts(state);
    EXPECT_FALSE(state.accountsFileUnreadable);
    EXPECT_EQ(state.accountCount, c.accounts);
    EXPECT_TRUE(memui::messages().empty());
    saveAccounts(state);
    EXPECT_TRUE(memui::messages().empty());
    EXPECT_EQ(dir.read("konta.txt").substr(0, 3), c.accounts == 0 ? "0\r\n" : "1\r\n");
  }
}

#ifndef _WIN32
// A konta.txt that is a FIFO neither hangs the start-up (an open for reading
// would wait for a writer) nor is taken for a missing file.
TEST_F(KontaLoadFaults, AFifoIsUnreadableAndStartUpGoesOn) {
  Fifo fifo(dir.path() / "konta.txt");
  ASSERT_TRUE(fifo.made());
  loadAccounts(state);
  EXPECT_TRUE(state.accountsFileUnreadable);
  EXPECT_EQ(state.accountCount, 0);
  EXPECT_EQ(settingsFileErrors(), 1u);
  saveAccounts(state);
  EXPECT_EQ(settingsFileErrors(), 2u);
  EXPECT_TRUE(std::filesystem::is_fifo(dir.path() / "konta.txt"));
  EXPECT_FALSE(fifo.wasNeeded()) << "the open waited for a writer";
}
#endif
