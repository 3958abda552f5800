// platform::File: the one owner of an open file. Each handle it gets from the
// table's open is closed exactly once, by close() or on scope exit, and a
// moved-from File closes nothing. The fault table counts the calls.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/fs_faults.h"
#include "support/temp_dir.h"

namespace {

using platform::File;
using platform::OpenMode;

TEST(PlatformFile, ClosesOnceOnScopeExit) {
  TempCwd cwd;
  FsFaults faults;
  {
    File file("a.txt", OpenMode::ReadWriteTruncate);
    ASSERT_TRUE(file.isOpen());
    EXPECT_TRUE(file.writeAll("abc"));
    EXPECT_EQ(faults.calls(FsCall::Close), 0);
  }
  EXPECT_EQ(faults.log(), (std::vector<FsCall>{FsCall::Open, FsCall::Write, FsCall::Close}));
  EXPECT_EQ(cwd.read("a.txt"), "abc");
}

TEST(PlatformFile, CloseReportsItsResultAndIsTheOnlyClose) {
  struct Case {
    const char* name;
    bool closeFails;
  };
  for (const Case& c : {Case{"close succeeds", false}, Case{"close fails", true}}) {
    SCOPED_TRACE(c.name);
    TempCwd cwd;
    FsFaults faults;
    if (c.closeFails) faults.failNth(FsCall::Close, 1);
    {
      File file("a.txt", OpenMode::ReadWriteTruncate);
      ASSERT_TRUE(file.isOpen());
      ASSERT_TRUE(file.writeAll("body"));
      EXPECT_EQ(file.close(), !c.closeFails);
      EXPECT_FALSE(file.isOpen());
      EXPECT_FALSE(file.close());  // nothing left to close: no call
    }
    EXPECT_EQ(faults.calls(FsCall::Close), 1);
    EXPECT_EQ(cwd.read("a.txt"), "body");
  }
}

TEST(PlatformFile, AFailedOpenHoldsNothingAndClosesNothing) {
  TempCwd cwd;
  FsFaults faults;
  faults.failNth(FsCall::Open, 1);
  {
    File file("a.txt", OpenMode::ReadWriteTruncate);
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.close());
  }
  {
    File missing("missing.txt", OpenMode::ReadExisting);
    EXPECT_FALSE(missing.isOpen());
  }
  EXPECT_EQ(faults.calls(FsCall::Open), 2);
  EXPECT_EQ(faults.calls(FsCall::Close), 0);
  EXPECT_FALSE(cwd.has("a.txt"));
}

TEST(PlatformFile, AMovedFromFileDoesNotClose) {
  TempCwd cwd;
  FsFaults faults;
  {
    File first("a.txt", OpenMode::ReadWriteTruncate);
    ASSERT_TRUE(first.isOpen());
    File second(std::move(first));
    EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move): the point of the test
    EXPECT_FALSE(first.close());   // NOLINT(bugprone-use-after-move)
    ASSERT_TRUE(second.isOpen());
    EXPECT_TRUE(second.writeAll("moved"));
    EXPECT_EQ(faults.calls(FsCall::Close), 0);
  }
  EXPECT_EQ(faults.calls(FsCall::Close), 1);
  EXPECT_EQ(cwd.read("a.txt"), "moved");
}

TEST(PlatformFile, MoveAssignmentClosesWhatTheTargetHeld) {
  TempCwd cwd;
  FsFaults faults;
  {
    File kept("a.txt", OpenMode::ReadWriteTruncate);
    File replaced("b.txt", OpenMode::ReadWriteTruncate);
    ASSERT_TRUE(kept.isOpen() && replaced.isOpen());
    replaced = std::move(kept);  // b.txt is closed here, a.txt changes hands
    EXPECT_EQ(faults.calls(FsCall::Close), 1);
    EXPECT_FALSE(kept.isOpen());  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(replaced.writeAll("a"));
    // open() on a File that holds a file closes that one first.
    EXPECT_TRUE(replaced.open("c.txt", OpenMode::ReadWriteTruncate));
    EXPECT_EQ(faults.calls(FsCall::Close), 2);
    EXPECT_TRUE(replaced.writeAll("c"));
  }
  EXPECT_EQ(faults.calls(FsCall::Open), 3);
  EXPECT_EQ(faults.calls(FsCall::Close), 3);
  EXPECT_EQ(cwd.read("a.txt"), "a");
  EXPECT_EQ(cwd.read("b.txt"), "");
  EXPECT_EQ(cwd.read("c.txt"), "c");
}

// What the download does with its body file: create it emptied, write each
// piece whole, close it and take the close's result as the download's.
TEST(PlatformFile, BodyFileUse) {
  TempCwd cwd;
  cwd.write("page.htm", "an older, longer page");
  FsFaults faults;
  faults.shortWriteNth(2, 2);  // the disk takes only part of the second piece at first
  File file;
  EXPECT_FALSE(file.isOpen());
  ASSERT_TRUE(file.open("page.htm", OpenMode::ReadWriteTruncate));
  EXPECT_TRUE(file.writeAll("<html>"));
  EXPECT_TRUE(file.writeAll("body"));  // goes on after the short write
  EXPECT_EQ(faults.calls(FsCall::Write), 3);
  faults.failNth(FsCall::Write, 1);
  EXPECT_FALSE(file.writeAll("lost"));
  EXPECT_TRUE(file.close());
  EXPECT_EQ(cwd.read("page.htm"), "<html>body");
}

TEST(PlatformFile, SizeSeekTruncateFlushReachTheFile) {
  TempCwd cwd;
  cwd.write("db.txt", "12345");
  FsFaults faults;
  File file("db.txt", OpenMode::ReadWriteOrCreate);
  ASSERT_TRUE(file.isOpen());
  EXPECT_EQ(file.size(), 5);
  EXPECT_TRUE(file.seek(5));
  EXPECT_TRUE(file.writeAll("67"));
  EXPECT_TRUE(file.truncate(3));
  EXPECT_TRUE(file.flush());
  faults.failNth(FsCall::Flush, 1);
  EXPECT_FALSE(file.flush());
  EXPECT_TRUE(file.close());
  EXPECT_EQ(cwd.read("db.txt"), "123");
  EXPECT_EQ(faults.log(), (std::vector<FsCall>{FsCall::Open, FsCall::Size, FsCall::Seek, FsCall::Write, FsCall::Truncate,
                                               FsCall::Flush, FsCall::Flush, FsCall::Close}));
}

}  // namespace
