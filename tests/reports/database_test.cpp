#include "reports/database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "model/state.h"
#include "model/texts.h"
#include "model/ui.h"
#include "ui/memory/memory_ui.h"
#include "support/fifo.h"
#include "support/fs_faults.h"
#include "support/temp_dir.h"

namespace {

const std::string kAppended = "Dodano do bazy";
const std::string kNothingPending = "Brak nowych wypraw!";
const std::string kAppendFailed = "Nie uda\xB3o si\xEA dopisa\xE6 do bazy!";  // Windows-1250
const std::string kLink = "http://127.0.0.1:8080/wiadomosc?id=7";
const std::string kEarlierResult = "Poprawnie odczytano: 1 wypraw.";

PendingExpedition expedition(uint8_t kind, uint8_t zone, uint8_t luck, uint8_t chance, uint8_t stat, uint8_t success,
                             const std::string& items) {
  PendingExpedition e;
  e.kind = kind;
  e.zone = zone;
  e.luck = luck;
  e.chance = chance;
  e.stat = stat;
  e.success = success;
  e.items = items;
  return e;
}

// The main window with one account shown in AccountCombo, a link pasted and
// the result of a check on show.
class Database : public ::testing::Test {
 protected:
  void SetUp() override {
    memui::reset();
    ASSERT_TRUE(openMainWindow());
    showAccount("Gracz");
    setControlText(LinkField, kLink);
    setControlText(ResultLabel, kEarlierResult);
    initState(state);
  }
  void TearDown() override { memui::reset(); }

  void showAccount(const std::string& name) {
    appendItem(AccountCombo, name);
    selectIndex(AccountCombo, static_cast<int32_t>(memui::items(AccountCombo).size()) - 1);
  }
  void pend(const std::vector<PendingExpedition>& batch) {
    for (size_t k = 0; k < batch.size(); ++k) state.PendingTable[k] = batch[k];
    state.pendingCount = static_cast<uint8_t>(batch.size());
  }

  // The append failed and nothing was lost: the batch and the link wait for
  // another try.
  void expectRefused(uint8_t pendingCount) {
    EXPECT_EQ(memui::shownText(ResultLabel), kAppendFailed);
    EXPECT_EQ(state.pendingCount, pendingCount);
    EXPECT_EQ(memui::shownText(LinkField), kLink);
  }

  TempCwd cwd;
  AppState state;
};

TEST_F(Database, BatchOfOneHasBatchMarkOne) {
  pend({expedition(1, 2, 12, 75, 3, 1, "Miecz, Tarcza")});
  appendPendingExpeditions(state);
  EXPECT_EQ(cwd.read("Gracz.txt"), "1;2;12;75;3;1;1;Miecz, Tarcza;\r\n");
  EXPECT_EQ(memui::shownText(ResultLabel), kAppended);
  EXPECT_EQ(state.pendingCount, 0);
  EXPECT_EQ(memui::shownText(LinkField), "");
}

TEST_F(Database, BatchOfThreeInSlotOrderWithBatchMarkTwo) {
  pend({expedition(0, 2, 12, 75, 3, 1, "Miecz, Tarcza"), expedition(0, 2, 15, 40, 7, 0, ""),
        expedition(255, 255, 0, 255, 9, 5, "He\xC5\x82m;x")});
  appendPendingExpeditions(state);
  EXPECT_EQ(cwd.read("Gracz.txt"),
            "0;2;12;75;3;1;2;Miecz, Tarcza;\r\n"
            "0;2;15;40;7;0;2;;\r\n"
            "255;255;0;255;9;5;2;He\xC5\x82m;x;\r\n");
  EXPECT_EQ(memui::shownText(ResultLabel), kAppended);
  EXPECT_EQ(state.pendingCount, 0);
}

TEST_F(Database, AppendsBehindExistingContentsWithoutAddingALineEnd) {
  cwd.write("Gracz.txt", "0;0;1;2;3;0;1;;\r\nniedoko\xF1" "czona");
  pend({expedition(2, 4, 0, 60, 5, 1, "")});
  appendPendingExpeditions(state);
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;0;1;2;3;0;1;;\r\nniedoko\xF1" "czona2;4;0;60;5;1;1;;\r\n");
}

TEST_F(Database, SecondAppendWritesNothing) {
  pend({expedition(0, 1, 2, 3, 4, 1, "A")});
  appendPendingExpeditions(state);
  setControlText(LinkField, kLink);
  appendPendingExpeditions(state);
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;1;2;3;4;1;1;A;\r\n");
  EXPECT_EQ(memui::shownText(ResultLabel), kNothingPending);
  EXPECT_EQ(memui::shownText(LinkField), "");
}

TEST_F(Database, NothingPendingCreatesAMissingFileEmptyAndLeavesAnExistingOne) {
  appendPendingExpeditions(state);
  EXPECT_TRUE(cwd.has("Gracz.txt"));
  EXPECT_EQ(cwd.read("Gracz.txt"), "");
  EXPECT_EQ(memui::shownText(ResultLabel), kNothingPending);
  EXPECT_EQ(memui::shownText(LinkField), "");

  cwd.write("Gracz.txt", "1;1;1;1;1;1;1;;");
  setControlText(LinkField, kLink);
  appendPendingExpeditions(state);
  EXPECT_EQ(cwd.read("Gracz.txt"), "1;1;1;1;1;1;1;;");
  EXPECT_EQ(memui::shownText(ResultLabel), kNothingPending);
}

TEST_F(Database, FileIsNamedAfterTheAccountShown) {
  showAccount("Pawe\xB3");  // Windows-1250 ł
  pend({expedition(0, 0, 0, 0, 0, 0, "")});
  appendPendingExpeditions(state);
  EXPECT_FALSE(cwd.has("Gracz.txt"));
  // File names reach the disk as UTF-8 on Linux, as UTF-16 on Windows.
  EXPECT_EQ(cwd.read("Pawe\xC5\x82.txt"), "0;0;0;0;0;0;1;;\r\n");
}

TEST_F(Database, AccountNamesThatCannotBeFileNamesAreRefused) {
  cwd.write("konta.txt", "1\r\n0\r\n0\r\nkonta\r\n0\r\n0\r\n0\r\n");
  for (const std::string name : {"konta", "KONTA", "a/b", "a\\b", "c:d", "CON", "nul", "lpt1", "x?", "<y>"}) {
    SCOPED_TRACE(name);
    showAccount(name);
    pend({expedition(0, 1, 2, 3, 4, 1, "A"), expedition(0, 1, 2, 3, 4, 0, "")});
    appendPendingExpeditions(state);
    expectRefused(2);
  }
  EXPECT_EQ(cwd.read("konta.txt"), "1\r\n0\r\n0\r\nkonta\r\n0\r\n0\r\n0\r\n");
  EXPECT_FALSE(cwd.has("a"));
}

struct Fault {
  const char* name;
  std::function<void(FsFaults&)> arrange;
};

// Whatever call of the file system fails, the database keeps exactly the
// bytes it had, or stays missing, and the batch is still pending; the next
// try then writes it whole.
TEST_F(Database, AFailureLeavesTheDatabaseAsItWasAndTheBatchPending) {
  const Fault faults[] = {
      {"open", [](FsFaults& f) { f.failNth(FsCall::Open, 1); }},
      {"size", [](FsFaults& f) { f.failNth(FsCall::Size, 1); }},
      {"seek", [](FsFaults& f) { f.failNth(FsCall::Seek, 1); }},
      {"write", [](FsFaults& f) { f.failNth(FsCall::Write, 1); }},
      {"short write, then a failing one",
       [](FsFaults& f) {
         f.shortWriteNth(1, 5);
         f.failNth(FsCall::Write, 2);
       }},
      {"flush", [](FsFaults& f) { f.failNth(FsCall::Flush, 1); }},
  };
  const std::string lines = "0;1;2;3;4;1;2;A;\r\n0;1;2;3;4;0;2;;\r\n";
  for (const bool existing : {true, false}) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(std::string(fault.name) + (existing ? ", existing database" : ", no database yet"));
      std::filesystem::remove(cwd.path() / "Gracz.txt");
      if (existing) cwd.write("Gracz.txt", "stare\r\n");
      setControlText(LinkField, kLink);
      pend({expedition(0, 1, 2, 3, 4, 1, "A"), expedition(0, 1, 2, 3, 4, 0, "")});
      {
        FsFaults faulty;
        fault.arrange(faulty);
        appendPendingExpeditions(state);
      }
      expectRefused(2);
      EXPECT_EQ(cwd.has("Gracz.txt"), existing);
      if (existing) {
        EXPECT_EQ(cwd.read("Gracz.txt"), "stare\r\n");
      }

      appendPendingExpeditions(state);
      EXPECT_EQ(cwd.read("Gracz.txt"), (existing ? "stare\r\n" : "") + lines);
      EXPECT_EQ(memui::shownText(ResultLabel), kAppended);
      EXPECT_EQ(state.pendingCount, 0);
    }
  }
}

TEST_F(Database, AShortWriteIsContinuedNotLost) {
  pend({expedition(0, 1, 2, 3, 4, 1, "Miecz")});
  {
    FsFaults faulty;
    faulty.shortWriteNth(1, 3);
    appendPendingExpeditions(state);
    EXPECT_GE(faulty.calls(FsCall::Write), 2);
    EXPECT_EQ(faulty.calls(FsCall::Flush), 1);  // on disk before it says so
  }
  EXPECT_EQ(cwd.read("Gracz.txt"), "0;1;2;3;4;1;1;Miecz;\r\n");
  EXPECT_EQ(memui::shownText(ResultLabel), kAppended);
}

// Cutting the database back to its old length is itself stored on disk
// (flushed) before the file is closed: otherwise a crash right after could
// still leave part of the batch in the file, against "nothing was written".
TEST_F(Database, TheCutBackToTheOldLengthIsFlushed) {
  const Fault faults[] = {
      {"write", [](FsFaults& f) { f.failNth(FsCall::Write, 1); }},
      {"short write, then a failing one",
       [](FsFaults& f) {
         f.shortWriteNth(1, 5);
         f.failNth(FsCall::Write, 2);
       }},
      {"flush of the lines", [](FsFaults& f) { f.failNth(FsCall::Flush, 1); }},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    cwd.write("Gracz.txt", "stare\r\n");
    pend({expedition(0, 1, 2, 3, 4, 1, "A")});
    FsFaults faulty;
    fault.arrange(faulty);
    appendPendingExpeditions(state);
    expectRefused(1);
    EXPECT_EQ(cwd.read("Gracz.txt"), "stare\r\n");
    const std::vector<FsCall>& log = faulty.log();
    const auto cut = std::find(log.begin(), log.end(), FsCall::Truncate);
    ASSERT_NE(cut, log.end());
    EXPECT_EQ(std::vector<FsCall>(cut, log.end()),
              (std::vector<FsCall>{FsCall::Truncate, FsCall::Flush, FsCall::Close}));
  }
}

#ifndef _WIN32
// A database that is a FIFO is no file: the append is refused at once, as
// for one that cannot be opened, and the FIFO stays.
TEST_F(Database, ADatabaseThatIsAFifoIsRefused) {
  Fifo fifo(cwd.path() / "Gracz.txt");
  ASSERT_TRUE(fifo.made());
  pend({expedition(0, 1, 2, 3, 4, 1, "A")});
  appendPendingExpeditions(state);
  expectRefused(1);
  EXPECT_TRUE(std::filesystem::is_fifo(cwd.path() / "Gracz.txt"));
  EXPECT_FALSE(fifo.wasNeeded());
}
#endif

}  // namespace
