// The platform's file calls themselves (posix/ natively, win32/ under Wine),
// and the fault-injection helper that the other tests build on.
#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <filesystem>
#include <string>

#include "platform/fs.h"
#include "support/fifo.h"
#include "support/fs_faults.h"
#include "support/temp_dir.h"

namespace {

using platform::FileHandle;
using platform::kNoFile;
using platform::OpenMode;

platform::FsCalls& fs() { return platform::fsCalls(); }

std::string readAllFrom(FileHandle file) {
  std::string bytes;
  char block[7];  // small on purpose: several reads
  for (int64_t got; (got = fs().read(file, block, sizeof block)) > 0;)
    bytes.append(block, static_cast<size_t>(got));
  return bytes;
}

TEST(PlatformFs, OpenModes) {
  TempCwd cwd;
  EXPECT_EQ(fs().open("missing.txt", OpenMode::ReadExisting), kNoFile);
  EXPECT_EQ(fs().open("missing.txt", OpenMode::WriteTruncate), kNoFile);
  EXPECT_FALSE(cwd.has("missing.txt"));

  cwd.write("keep.txt", "old bytes");
  FileHandle file = fs().open("keep.txt", OpenMode::ReadWriteOrCreate);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(fs().size(file), 9);
  EXPECT_EQ(readAllFrom(file), "old bytes");
  EXPECT_TRUE(fs().close(file));

  file = fs().open("new.txt", OpenMode::ReadWriteOrCreate);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(fs().size(file), 0);
  EXPECT_TRUE(fs().close(file));
  EXPECT_TRUE(cwd.has("new.txt"));

  file = fs().open("keep.txt", OpenMode::ReadWriteTruncate);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(fs().size(file), 0);
  EXPECT_EQ(fs().write(file, "abc", 3), 3);
  EXPECT_TRUE(fs().seek(file, 1));
  EXPECT_EQ(readAllFrom(file), "bc");
  EXPECT_TRUE(fs().close(file));

  file = fs().open("keep.txt", OpenMode::WriteTruncate);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(fs().size(file), 0);
  EXPECT_EQ(fs().write(file, "xy", 2), 2);
  EXPECT_TRUE(fs().close(file));
  EXPECT_EQ(cwd.read("keep.txt"), "xy");

  file = fs().open("keep.txt", OpenMode::ReadExisting);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(fs().write(file, "z", 1), -1);  // opened for reading only
  EXPECT_TRUE(fs().close(file));
  EXPECT_EQ(cwd.read("keep.txt"), "xy");
}

TEST(PlatformFs, ADirectoryIsNoFile) {
  TempCwd cwd;
  std::filesystem::create_directory(cwd.path() / "dir");
  EXPECT_EQ(fs().open("dir", OpenMode::ReadExisting), kNoFile);
  EXPECT_EQ(fs().open("dir", OpenMode::ReadWriteOrCreate), kNoFile);
  EXPECT_TRUE(fs().exists("dir"));
}

#ifndef _WIN32
// Only regular files open, and no open waits for a FIFO's other end or a
// device: each fails at once, in every mode.
TEST(PlatformFs, AFifoOrADeviceIsNoFileAndNoOpenWaits) {
  TempCwd cwd;
  Fifo fifo(cwd.path() / "fifo");
  ASSERT_TRUE(fifo.made());
  for (const OpenMode mode : {OpenMode::ReadExisting, OpenMode::ReadWriteOrCreate,
                              OpenMode::ReadWriteTruncate, OpenMode::WriteTruncate}) {
    SCOPED_TRACE(static_cast<int>(mode));
    EXPECT_EQ(fs().open("fifo", mode), kNoFile);
    EXPECT_EQ(fs().open("/dev/null", mode), kNoFile);
  }
  EXPECT_FALSE(fifo.wasNeeded()) << "an open waited for the FIFO's other end";
  EXPECT_TRUE(std::filesystem::is_fifo(cwd.path() / "fifo"));
}
#else
// Only files on a disk open: a device (NUL) or a pipe is no file, in every
// mode.
TEST(PlatformFs, ADeviceOrAPipeIsNoFile) {
  TempCwd cwd;
  for (const OpenMode mode : {OpenMode::ReadExisting, OpenMode::ReadWriteOrCreate,
                              OpenMode::ReadWriteTruncate, OpenMode::WriteTruncate}) {
    SCOPED_TRACE(static_cast<int>(mode));
    EXPECT_EQ(fs().open("NUL", mode), kNoFile);
    // A pipe with a server waiting for its client.
    const HANDLE server = CreateNamedPipeW(L"\\\\.\\pipe\\wyprawy-test", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                           1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fs().open("\\\\.\\pipe\\wyprawy-test", mode), kNoFile);
    CloseHandle(server);
  }
}
#endif

TEST(PlatformFs, SeekTruncateFlush) {
  TempCwd cwd;
  const FileHandle file = fs().open("f.txt", OpenMode::ReadWriteTruncate);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(fs().write(file, "0123456789", 10), 10);
  EXPECT_FALSE(fs().seek(file, -1));
  EXPECT_TRUE(fs().seek(file, 8));
  EXPECT_TRUE(fs().truncate(file, 4));  // the position stays at 8
  EXPECT_EQ(fs().size(file), 4);
  EXPECT_EQ(fs().write(file, "X", 1), 1);
  EXPECT_TRUE(fs().flush(file));
  EXPECT_EQ(fs().size(file), 9);
  EXPECT_FALSE(fs().truncate(file, -1));
  EXPECT_TRUE(fs().close(file));
  EXPECT_EQ(cwd.read("f.txt"), std::string("0123\0\0\0\0X", 9));
}

TEST(PlatformFs, RenameReplacesAndRemoveDeletes) {
  TempCwd cwd;
  cwd.write("new.tmp", "new");
  cwd.write("konta.txt", "old");
  EXPECT_TRUE(fs().rename("new.tmp", "konta.txt"));
  EXPECT_EQ(cwd.read("konta.txt"), "new");
  EXPECT_FALSE(cwd.has("new.tmp"));
  EXPECT_FALSE(fs().rename("new.tmp", "konta.txt"));
  EXPECT_TRUE(fs().exists("konta.txt"));
  EXPECT_TRUE(fs().remove("konta.txt"));
  EXPECT_FALSE(fs().exists("konta.txt"));
  EXPECT_FALSE(fs().remove("konta.txt"));
}

TEST(PlatformFs, PathsAreWindows1250) {
  TempCwd cwd;
  const FileHandle file = fs().open(
      "Pawe\xB3 \xA3\xF3"
      "d\x9F.txt",
      OpenMode::ReadWriteTruncate);
  ASSERT_NE(file, kNoFile);
  EXPECT_TRUE(fs().close(file));
  EXPECT_TRUE(std::filesystem::exists(cwd.path() / std::filesystem::path(u"Paweł Łódź.txt")));
  EXPECT_TRUE(
      fs().exists("Pawe\xB3 \xA3\xF3"
                  "d\x9F.txt"));
  // A NUL would cut the name short on the way down: no file has such a name.
  cwd.write("a", "x");
  EXPECT_EQ(fs().open(std::string("a\0b", 3), OpenMode::ReadExisting), kNoFile);
  EXPECT_FALSE(fs().exists(std::string("a\0b", 3)));
}

TEST(FsFaults, FailsTheChosenCallsAndRestoresTheTable) {
  TempCwd cwd;
  {
    FsFaults faults;
    faults.failNth(FsCall::Write, 2);
    faults.failNth(FsCall::Open, 1);
    EXPECT_EQ(fs().open("f.txt", OpenMode::ReadWriteTruncate), kNoFile);
    EXPECT_FALSE(cwd.has("f.txt"));  // a failed open creates nothing
    const FileHandle file = fs().open("f.txt", OpenMode::ReadWriteTruncate);
    ASSERT_NE(file, kNoFile);
    EXPECT_EQ(fs().write(file, "a", 1), 1);
    EXPECT_EQ(fs().write(file, "b", 1), -1);
    EXPECT_EQ(fs().write(file, "c", 1), 1);
    faults.shortWriteNth(1, 2);
    EXPECT_EQ(fs().write(file, "defg", 4), 2);
    faults.failFrom(FsCall::Flush);
    EXPECT_FALSE(fs().flush(file));
    EXPECT_FALSE(fs().flush(file));
    faults.failNth(FsCall::Close, 1);
    EXPECT_FALSE(fs().close(file));  // reported, but the file is closed all the same
    EXPECT_EQ(faults.calls(FsCall::Open), 2);
    EXPECT_EQ(faults.calls(FsCall::Write), 4);
    EXPECT_EQ(faults.calls(FsCall::Flush), 2);
    EXPECT_EQ(faults.calls(FsCall::Rename), 0);
    faults.failNth(FsCall::Rename, 1);
    EXPECT_FALSE(fs().rename("f.txt", "g.txt"));
    EXPECT_TRUE(fs().rename("f.txt", "g.txt"));
    faults.failNth(FsCall::CurrentDirectory, 1);
    EXPECT_EQ(fs().currentDirectory(), "");
    EXPECT_NE(fs().currentDirectory(), "");
  }
  EXPECT_EQ(cwd.read("g.txt"), "acde");
  EXPECT_EQ(fs().open, platform::platformFsCalls().open);
  EXPECT_EQ(fs().write, platform::platformFsCalls().write);
  // The removal of the closed file works: nothing still holds it.
  EXPECT_TRUE(fs().remove("g.txt"));
}

}  // namespace
