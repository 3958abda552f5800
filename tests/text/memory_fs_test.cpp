// The in-memory file table of tests/support against the platform's own: the
// same calls, made once on real files and once in memory, must answer alike,
// since the fuzz targets and tests that run the file code in memory stand on
// it. And LineFile over it, with reads that come in pieces.
#include "support/memory_fs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fs.h"
#include "reports/report_scan_reference.h"
#include "support/fs_faults.h"
#include "support/temp_dir.h"
#include "text/line_file.h"

namespace {

using platform::FileHandle;
using platform::kNoFile;
using platform::OpenMode;

platform::FsCalls& fs() { return platform::fsCalls(); }

// Every answer of a run of calls, one line each, then the files' bytes.
std::vector<std::string> transcript() {
  std::vector<std::string> log;
  const auto say = [&log](const std::string& what, int64_t value) {
    log.push_back(what + " " + std::to_string(value));
  };
  const auto readAll = [&](const std::string& what, FileHandle file, int64_t block) {
    std::string bytes;
    char buffer[64];
    int64_t got;
    while ((got = fs().read(file, buffer, block)) > 0) bytes.append(buffer, static_cast<size_t>(got));
    log.push_back(what + " '" + bytes + "' then " + std::to_string(got));
  };
  const auto contents = [&](const std::string& path) {
    const FileHandle file = fs().open(path, OpenMode::ReadExisting);
    if (file == kNoFile) {
      log.push_back(path + ": none");
      return;
    }
    readAll(path + ":", file, 64);
    fs().close(file);
  };

  say("open missing for reading", fs().open("a.txt", OpenMode::ReadExisting) != kNoFile);
  say("open missing for truncating", fs().open("a.txt", OpenMode::WriteTruncate) != kNoFile);
  say("exists after failed opens", fs().exists("a.txt"));

  FileHandle file = fs().open("a.txt", OpenMode::ReadWriteOrCreate);
  say("create", file != kNoFile);
  say("size of new", fs().size(file));
  say("write", fs().write(file, "hello world", 11));
  say("read at end", fs().read(file, nullptr, 0));
  say("seek behind end", fs().seek(file, 14));
  say("write behind end", fs().write(file, "!", 1));
  say("size", fs().size(file));
  say("seek negative", fs().seek(file, -1));
  say("seek 6", fs().seek(file, 6));
  readAll("read from 6", file, 4);
  say("truncate to 8", fs().truncate(file, 8));
  say("size after truncate", fs().size(file));
  say("write where the position stayed", fs().write(file, "#", 1));
  say("truncate negative", fs().truncate(file, -1));
  say("seek 0", fs().seek(file, 0));
  say("overwrite", fs().write(file, "HE", 2));
  say("flush", fs().flush(file));
  say("close", fs().close(file));
  contents("a.txt");

  file = fs().open("a.txt", OpenMode::ReadExisting);
  say("open for reading", file != kNoFile);
  say("write to read-only", fs().write(file, "z", 1));
  say("truncate read-only", fs().truncate(file, 0));
  readAll("read-only", file, 5);
  say("close", fs().close(file));

  file = fs().open("a.txt", OpenMode::ReadWriteOrCreate);
  say("open existing, keep", fs().size(file));
  say("close", fs().close(file));

  file = fs().open("a.txt", OpenMode::WriteTruncate);
  say("truncate existing", fs().size(file));
  say("write", fs().write(file, "xy", 2));
  char byte = 0;
  say("read write-only", fs().read(file, &byte, 1) < 0);
  say("close", fs().close(file));
  contents("a.txt");

  file = fs().open("b.txt", OpenMode::ReadWriteTruncate);
  say("write b", fs().write(file, "bee", 3));
  say("close", fs().close(file));
  file = fs().open("b.txt", OpenMode::ReadWriteTruncate);
  say("emptied", fs().size(file));
  say("write b again", fs().write(file, "B", 1));
  say("close", fs().close(file));

  say("rename onto existing", fs().rename("a.txt", "b.txt"));
  say("old name exists", fs().exists("a.txt"));
  say("rename missing", fs().rename("a.txt", "c.txt"));
  contents("b.txt");
  say("remove", fs().remove("b.txt"));
  say("remove again", fs().remove("b.txt"));
  say("exists removed", fs().exists("b.txt"));
  contents("b.txt");

  const std::string withNul("a\0b", 3);
  file = fs().open("a", OpenMode::ReadWriteTruncate);
  fs().close(file);
  say("open path with NUL", fs().open(withNul, OpenMode::ReadExisting) != kNoFile);
  say("create path with NUL", fs().open(withNul, OpenMode::ReadWriteTruncate) != kNoFile);
  say("exists path with NUL", fs().exists(withNul));
  say("rename to path with NUL", fs().rename("a", withNul));
  say("remove path with NUL", fs().remove(withNul));
  say("empty path", fs().open("", OpenMode::ReadWriteOrCreate) != kNoFile);
  say("current directory known", !fs().currentDirectory().empty());
  return log;
}

TEST(MemoryFs, AnswersAsThePlatformDoes) {
  std::vector<std::string> onDisk;
  {
    TempCwd cwd;
    onDisk = transcript();
  }
  MemoryFs files;
  const std::vector<std::string> inMemory = transcript();
  EXPECT_EQ(inMemory, onDisk);
  EXPECT_EQ(files.openCount(), 0);
}

TEST(MemoryFs, HoldsFilesRestoresTheTableAndTakesFaults) {
  {
    MemoryFs files("/w/");
    EXPECT_EQ(fs().currentDirectory(), "/w/");
    files.put("/w/k.txt", "one\r\ntwo");
    ASSERT_TRUE(openForUpdate(0, "/w/k.txt"));
    EXPECT_EQ(readLine(0), "one");
    writeLine(0, "2");
    EXPECT_EQ(files.openCount(), 1);
    closeFile(0);
    EXPECT_EQ(files.openCount(), 0);
    EXPECT_EQ(files.get("/w/k.txt"), "one\r\n2\r\n");
    EXPECT_FALSE(files.has("/w/other.txt"));
    EXPECT_EQ(files.get("/w/other.txt"), "");

    // Removed or renamed while open, a file stays with its handle (as on POSIX).
    const FileHandle file = fs().open("/w/k.txt", OpenMode::ReadWriteOrCreate);
    ASSERT_NE(file, kNoFile);
    EXPECT_TRUE(fs().remove("/w/k.txt"));
    EXPECT_EQ(fs().write(file, "ONE", 3), 3);
    EXPECT_EQ(fs().size(file), 8);
    EXPECT_TRUE(fs().close(file));
    EXPECT_FALSE(fs().close(file));  // a handle closes once
    EXPECT_EQ(fs().size(file), -1);

    FsFaults faults;
    faults.failNth(FsCall::Open, 1);
    EXPECT_FALSE(openForRead(0, "/w/k.txt"));
    EXPECT_FALSE(files.has("/w/k.txt"));
  }
  EXPECT_EQ(fs().open, platform::platformFsCalls().open);
  EXPECT_EQ(fs().read, platform::platformFsCalls().read);
  EXPECT_EQ(fs().currentDirectory, platform::platformFsCalls().currentDirectory);
}

// readLine cuts the same lines whatever sizes the reads come in: a CR LF, a
// long line or a NUL may fall across the edge of any read.
TEST(MemoryFs, LineFileReadsTheSameLinesInPieces) {
  std::string longLine(9000, 'x');
  longLine[4095] = '\r';
  const std::string pages[] = {
      "",
      std::string("a\r\nb\nc\rd\0e\r\n\r\n", 14),
      std::string("\r\r\n\n\0\0x\r", 8),
      std::string(4095, 'a') + "\r\n" + "tail",
      std::string(4096, 'b') + "\r",
      longLine + "\n" + longLine,
  };
  const int64_t limits[] = {1, 2, 3, 7, 4095, 4097, 0};
  MemoryFs files;
  for (const std::string& page : pages) {
    const std::vector<std::string_view> split = scanref::pageLines(page);
    const std::vector<std::string> expected(split.begin(), split.end());
    files.put("/mem/page.html", page);
    for (const int64_t limit : limits) {
      files.setReadLimit(limit);
      ASSERT_TRUE(openForRead(0, "/mem/page.html"));
      std::vector<std::string> lines;
      while (!atEnd(0)) lines.push_back(readLine(0));
      EXPECT_EQ(readLine(0), "");
      EXPECT_EQ(fileLength(0), static_cast<int64_t>(page.size()));
      closeFile(0);
      EXPECT_EQ(lines, expected) << "reads of at most " << limit << " bytes, page of " << page.size();
    }
  }
  EXPECT_EQ(files.openCount(), 0);
}

}  // namespace
