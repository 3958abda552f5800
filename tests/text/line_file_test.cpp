#include "text/line_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fifo.h"
#include "support/fs_faults.h"
#include "support/temp_dir.h"
#include "encoding/cp1250.h"

namespace {

constexpr int kFile = 0;

// Every line of a file, read as the report scan reads: while not at the end.
std::vector<std::string> readLines(const std::string& name) {
  std::vector<std::string> lines;
  if (!openForRead(kFile, name)) return {"<not opened>"};
  while (!atEnd(kFile)) lines.push_back(readLine(kFile));
  closeFile(kFile);
  return lines;
}

using Lines = std::vector<std::string>;

struct ReadCase {
  const char* what;
  std::string bytes;
  Lines lines;
};

TEST(LineFileRead, LineEnds) {
  const ReadCase cases[] = {
      {"CR LF, LF and CR each end a line", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"LF then CR is two line ends", "x\n\ry", {"x", "", "y"}},
      {"a last line without its end", "abc", {"abc"}},
      {"a lone CR at the very end", "abc\r", {"abc"}},
      {"a final line end adds no empty line", "a\n", {"a"}},
      {"NUL splits a line", std::string("a\0b", 3), {"a", "b"}},
      {"NUL, LF and CR LF: empty lines", std::string("a\n\0\r\nb", 6), {"a", "", "", "b"}},
      {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
      {"only line ends", "\r\n\r\n", {"", ""}},
      {"an empty file", "", {}},
      {"blanks are kept", " a \t\r\n", {" a \t"}},
  };
  TempCwd cwd;
  for (const auto& c : cases) {
    cwd.write("f.txt", c.bytes);
    EXPECT_EQ(readLines("f.txt"), c.lines) << c.what;
  }
}

TEST(LineFileRead, TheEndReadsAsEmptyLines) {
  TempCwd cwd;
  cwd.write("f.txt", "a\r\nb\nc\rd");
  ASSERT_TRUE(openForRead(kFile, "f.txt"));
  for (const char* expected : {"a", "b", "c", "d"}) {
    EXPECT_FALSE(atEnd(kFile));
    EXPECT_EQ(readLine(kFile), expected);
  }
  EXPECT_TRUE(atEnd(kFile));
  EXPECT_EQ(readLine(kFile), "");
  EXPECT_EQ(readLine(kFile), "");
  EXPECT_TRUE(atEnd(kFile));
  closeFile(kFile);
}

TEST(LineFileRead, LineEndsAcrossTheBlockBorder) {
  // The file is read 4096 bytes at a time: a line end (or the two bytes of
  // CR LF) may straddle two blocks.
  TempCwd cwd;
  for (const size_t length : {4094u, 4095u, 4096u, 4097u, 8191u, 8192u}) {
    for (const std::string& end :
         {std::string("\r\n"), std::string("\n"), std::string("\r"), std::string(1, '\0')}) {
      const std::string line(length, 'x');
      cwd.write("f.txt", line + end + "y" + end + "z");
      EXPECT_EQ(readLines("f.txt"), (Lines{line, "y", "z"})) << "length " << length << " end " << int(end[0]);
      // CR as the last byte of the file, just at or behind the border.
      cwd.write("f.txt", line + "\r");
      EXPECT_EQ(readLines("f.txt"), (Lines{line})) << "length " << length;
    }
  }
}

TEST(LineFileRead, LongLinesComeBackWhole) {
  TempCwd cwd;
  std::string tenThousand;
  for (int i = 0; i < 10000; ++i) tenThousand += static_cast<char>('a' + i % 26);
  // A page line of three megabytes with every byte value but the line ends.
  std::string page;
  for (int i = 0; page.size() < 3u << 20; ++i) {
    const char c = static_cast<char>(1 + i % 255);
    if (c != '\n' && c != '\r') page += c;
  }
  cwd.write("f.txt", tenThousand + "\r\n" + page + "\r\nshort");
  EXPECT_EQ(readLines("f.txt"), (Lines{tenThousand, page, "short"}));
}

// Memory follows the longest line read, not the size of the file: a line of
// a little over two blocks at the start of a huge sparse file (whose holes
// read as NUL bytes, each ending an empty line) takes room for itself only.
TEST(LineFileRead, ALongLineTakesRoomForItselfNotForTheRestOfTheFile) {
  TempCwd cwd;
  const std::string first(9000, 'x');
  std::vector<std::uintmax_t> sizes = {std::uintmax_t{1} << 30};
#ifndef _WIN32
  sizes.push_back(std::uintmax_t{1} << 40);  // more than any memory: no room could be made for it
#endif
  for (const std::uintmax_t size : sizes) {
    SCOPED_TRACE(size);
    cwd.write("big.txt", first + "\r\nshort\r\n");
    std::error_code error;
    std::filesystem::resize_file(cwd.path() / "big.txt", size, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_TRUE(openForRead(kFile, "big.txt"));
    const std::string line = readLine(kFile);
    EXPECT_EQ(line, first);
    EXPECT_LT(line.capacity(), 2 * first.size());
    EXPECT_EQ(readLine(kFile), "short");
    EXPECT_EQ(readLine(kFile), "");
    EXPECT_FALSE(atEnd(kFile));
    closeFile(kFile);
    std::filesystem::remove(cwd.path() / "big.txt");
  }
}

TEST(LineFileWrite, LinesEndWithCrLf) {
  struct Case {
    std::string text, bytes;
  };
  const Case cases[] = {
      {"", "\r\n"},
      {"abc", "abc\r\n"},
      {"a\rb\nc", "a\rb\nc\r\n"},                      // written unchanged
      {"Pawe\xB3 \xB9\x9C", "Pawe\xB3 \xB9\x9C\r\n"},  // Windows-1250 bytes as they are
      {"\xC4\x98", "\xC4\x98\r\n"},                    // and UTF-8 bytes too
  };
  TempCwd cwd;
  for (const auto& c : cases) {
    ASSERT_TRUE(createFile(kFile, "f.txt"));
    writeLine(kFile, c.text);
    closeFile(kFile);
    EXPECT_EQ(cwd.read("f.txt"), c.bytes);
  }
}

TEST(LineFileWrite, BytesAbove127RoundTrip) {
  TempCwd cwd;
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b != '\n' && b != '\r') all += static_cast<char>(b);
  }
  ASSERT_TRUE(createFile(kFile, "f.txt"));
  writeLine(kFile, all);
  writeLine(kFile, "za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1");
  closeFile(kFile);
  EXPECT_EQ(readLines("f.txt"), (Lines{all, "za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1"}));
}

TEST(LineFileOpen, WhatEachOpenDoesToTheFile) {
  TempCwd cwd;
  // createFile empties an existing file before anything is written.
  cwd.write("old.txt", "old contents\r\n");
  ASSERT_TRUE(createFile(kFile, "old.txt"));
  EXPECT_EQ(cwd.read("old.txt"), "");
  EXPECT_EQ(fileLength(kFile), 0);
  EXPECT_TRUE(atEnd(kFile));
  closeFile(kFile);
  EXPECT_EQ(cwd.read("old.txt"), "");

  // openForRead never creates.
  EXPECT_FALSE(openForRead(kFile, "missing.txt"));
  EXPECT_FALSE(cwd.has("missing.txt"));
  closeFile(kFile);  // after a failed open: nothing happens
  closeFile(kFile);

  // openForUpdate creates an empty file, or keeps what is there.
  ASSERT_TRUE(openForUpdate(kFile, "new.txt"));
  EXPECT_TRUE(cwd.has("new.txt"));
  EXPECT_EQ(fileLength(kFile), 0);
  EXPECT_TRUE(atEnd(kFile));
  closeFile(kFile);
  closeFile(kFile);  // a second close: nothing happens
  cwd.write("kept.txt", "one\r\ntwo\r\n");
  ASSERT_TRUE(openForUpdate(kFile, "kept.txt"));
  EXPECT_EQ(readLine(kFile), "one");
  closeFile(kFile);
  EXPECT_EQ(cwd.read("kept.txt"), "one\r\ntwo\r\n");

  // A file number outside the table opens nothing.
  EXPECT_FALSE(createFile(-1, "neg.txt"));
  EXPECT_FALSE(cwd.has("neg.txt"));
}

TEST(LineFileOpen, AppendingBehindTheOldLines) {
  TempCwd cwd;
  for (const std::string& old :
       {std::string("one\r\ntwo\r\n"), std::string(5000, 'o') + "\r\n", std::string()}) {
    cwd.write("db.txt", old);
    ASSERT_TRUE(openForUpdate(kFile, "db.txt"));
    seekTo(kFile, fileLength(kFile));
    writeLine(kFile, "1;2;3");
    writeLine(kFile, "4;5;6");
    closeFile(kFile);
    EXPECT_EQ(cwd.read("db.txt"), old + "1;2;3\r\n4;5;6\r\n");
  }
}

TEST(LineFileBuffer, FileLengthCountsBufferedBytes) {
  TempCwd cwd;
  ASSERT_TRUE(createFile(kFile, "f.txt"));
  writeLine(kFile, "abc");
  EXPECT_EQ(cwd.read("f.txt"), "");  // still in the buffer
  EXPECT_EQ(fileLength(kFile), 5);
  EXPECT_EQ(cwd.read("f.txt"), "abc\r\n");  // stored by fileLength
  writeLine(kFile, "de");
  EXPECT_EQ(fileLength(kFile), 9);
  closeFile(kFile);
}

TEST(LineFileBuffer, WhenWrittenBytesAreStored) {
  TempCwd cwd;
  FsFaults faults;  // here only to count the writes that reach the file
  ASSERT_TRUE(createFile(kFile, "f.txt"));
  const std::string a(4000, 'a');  // + CR LF: 4002 of the 4096 bytes used
  writeLine(kFile, a);
  EXPECT_EQ(faults.calls(FsCall::Write), 0);
  const std::string b(93, 'b');  // 93 < 94 bytes left: still fits
  writeLine(kFile, b);           // ... but its CR LF (2 >= 1 left) stores the buffer
  EXPECT_EQ(faults.calls(FsCall::Write), 1);
  EXPECT_EQ(cwd.read("f.txt"), a + "\r\n" + b);
  const std::string c(5000, 'c');  // at least a whole buffer: straight to the file
  writeLine(kFile, c);
  EXPECT_EQ(faults.calls(FsCall::Write), 3);  // "\r\n" stored, then c itself
  EXPECT_EQ(cwd.read("f.txt"), a + "\r\n" + b + "\r\n" + c);
  closeFile(kFile);
  EXPECT_EQ(faults.calls(FsCall::Write), 4);
  EXPECT_EQ(cwd.read("f.txt"), a + "\r\n" + b + "\r\n" + c + "\r\n");
}

TEST(LineFileBuffer, ReadingAndWritingShareOnePosition) {
  TempCwd cwd;
  // A write after a read lands where reading reached, not behind the bytes
  // read ahead into the buffer.
  cwd.write("f.txt", "l1\r\nl2\r\nl3\r\n");
  ASSERT_TRUE(openForUpdate(kFile, "f.txt"));
  EXPECT_EQ(readLine(kFile), "l1");
  writeLine(kFile, "XX");
  // Back to reading: the written bytes are stored first, reading goes on
  // behind them.
  EXPECT_EQ(readLine(kFile), "l3");
  EXPECT_TRUE(atEnd(kFile));
  closeFile(kFile);
  EXPECT_EQ(cwd.read("f.txt"), "l1\r\nXX\r\nl3\r\n");

  // seekTo stores pending bytes and drops what was read ahead.
  ASSERT_TRUE(createFile(kFile, "g.txt"));
  writeLine(kFile, "first");
  writeLine(kFile, "second");
  seekTo(kFile, 0);
  EXPECT_EQ(readLine(kFile), "first");
  seekTo(kFile, 7);
  EXPECT_EQ(readLine(kFile), "second");
  EXPECT_TRUE(atEnd(kFile));
  seekTo(kFile, 2);
  writeLine(kFile, "");
  closeFile(kFile);
  EXPECT_EQ(cwd.read("g.txt"), "fi\r\nt\r\nsecond\r\n");  // CR LF over "rs"
}

TEST(LineFileNumbers, ReopeningANumberClosesItsFileFirst) {
  TempCwd cwd;
  cwd.write("b.txt", "b\r\n");
  ASSERT_TRUE(createFile(kFile, "a.txt"));
  writeLine(kFile, "pending");
  ASSERT_TRUE(openForRead(kFile, "b.txt"));
  EXPECT_EQ(cwd.read("a.txt"), "pending\r\n");
  EXPECT_EQ(readLine(kFile), "b");
  closeFile(kFile);

  // A failed open closes the old file too and leaves the number free: later
  // writes under it go nowhere.
  ASSERT_TRUE(createFile(kFile, "a.txt"));
  writeLine(kFile, "kept");
  EXPECT_FALSE(openForRead(kFile, "missing.txt"));
  EXPECT_EQ(cwd.read("a.txt"), "kept\r\n");
  writeLine(kFile, "lost");
  EXPECT_TRUE(atEnd(kFile));
  closeFile(kFile);
  EXPECT_EQ(cwd.read("a.txt"), "kept\r\n");
}

TEST(LineFileNumbers, EightFilesAtOnceAndCloseAll) {
  TempCwd cwd;
  for (int n = 0; n < 8; ++n) {
    ASSERT_TRUE(createFile(n, "f" + std::to_string(n) + ".txt")) << n;
    writeLine(n, "file " + std::to_string(n));
  }
  for (int n = 0; n < 8; ++n) EXPECT_EQ(cwd.read("f" + std::to_string(n) + ".txt"), "") << n;
  closeAllFiles();
  for (int n = 0; n < 8; ++n) {
    EXPECT_EQ(cwd.read("f" + std::to_string(n) + ".txt"), "file " + std::to_string(n) + "\r\n") << n;
  }
  closeAllFiles();  // nothing open: nothing happens
}

#ifdef _WIN32
constexpr bool kSharingModes = true;
#else
constexpr bool kSharingModes = false;  // POSIX has no mandatory sharing modes
#endif

TEST(LineFileNumbers, OthersMayReadAnOpenFileButNotWriteIt) {
  TempCwd cwd;
  ASSERT_TRUE(openForUpdate(kFile, "f.txt"));
  writeLine(kFile, "x");
  EXPECT_EQ(fileLength(kFile), 3);
  EXPECT_EQ(cwd.read("f.txt"), "x\r\n");  // another program reads it
  {
    std::ofstream other(cwd.path() / "f.txt", std::ios::binary | std::ios::app);
    EXPECT_EQ(other.is_open(), !kSharingModes);  // ... but cannot write it
  }
  closeFile(kFile);

  // The other way round: while another program writes the file, the
  // program's open fails where the system can say so.
  std::ofstream other(cwd.path() / "f.txt", std::ios::binary | std::ios::app);
  ASSERT_TRUE(other.is_open());
  EXPECT_EQ(openForRead(kFile, "f.txt"), !kSharingModes);
  closeFile(kFile);
}

TEST(LineFileNames, Windows1250NamesAreTheSystemsOwnLetters) {
  TempCwd cwd;
  ASSERT_TRUE(createFile(kFile, "Pawe\xB3.txt"));
  writeLine(kFile, "1");
  closeFile(kFile);
  // "Paweł.txt": UTF-8 on Linux, the same letters in UTF-16 on Windows.
  std::vector<std::u16string> names;
  for (const auto& entry : std::filesystem::directory_iterator(cwd.path())) {
    names.push_back(entry.path().filename().u16string());
  }
  EXPECT_EQ(names, std::vector<std::u16string>{u"Paweł.txt"});
  EXPECT_EQ(readLines("Pawe\xB3.txt"), (Lines{"1"}));
}

TEST(WorkingDirectoryPath, OneSeparatorAndAskedAfresh) {
  const std::u16string separator(1, static_cast<char16_t>(std::filesystem::path::preferred_separator));
  TempCwd cwd;
  const std::string here = workingDirectoryPath();
  EXPECT_EQ(cp1250ToUtf16(here), cwd.path().u16string() + separator);

  // A path formed as the directory followed directly by a bare name works.
  ASSERT_TRUE(createFile(kFile, here + "x.txt"));
  closeFile(kFile);
  EXPECT_TRUE(cwd.has("x.txt"));

  // Asked afresh: a change of directory shows at once, also into a folder
  // with Polish letters (Windows-1250 bytes come back).
  std::filesystem::create_directory(cwd.path() / std::filesystem::path(u"Łódź"));
  std::filesystem::current_path(cwd.path() / std::filesystem::path(u"Łódź"));
  EXPECT_EQ(workingDirectoryPath(), here +
                                        "\xA3\xF3"
                                        "d\x9F" +
                                        std::string(1, here.back()));

  // A root directory already ends with its separator: no second one.
  const std::filesystem::path root = cwd.path().root_path();
  std::filesystem::current_path(root);
  const std::string rootPath = workingDirectoryPath();
  EXPECT_EQ(cp1250ToUtf16(rootPath), root.u16string());
  ASSERT_GE(rootPath.size(), 1u);
  EXPECT_TRUE(rootPath.back() == '/' || rootPath.back() == '\\');
  EXPECT_TRUE(rootPath.size() < 2 ||
              (rootPath[rootPath.size() - 2] != '/' && rootPath[rootPath.size() - 2] != '\\'));
  std::filesystem::current_path(cwd.path());
}

TEST(WorkingDirectoryPath, EmptyWhenNotKnownOrNotWindows1250) {
  TempCwd cwd;
  // Windows-1250 cannot hold these letters: such a path would name nothing.
  std::filesystem::create_directory(cwd.path() / std::filesystem::path(u"日本"));
  std::filesystem::current_path(cwd.path() / std::filesystem::path(u"日本"));
  EXPECT_EQ(workingDirectoryPath(), "");
  std::filesystem::current_path(cwd.path());
  EXPECT_NE(workingDirectoryPath(), "");

  FsFaults faults;
  faults.failNth(FsCall::CurrentDirectory, 1);
  EXPECT_EQ(workingDirectoryPath(), "");
}

// Failures while a file is open are not reported by these operations (their
// callers cannot act on them); the fault table shows what then happens.
TEST(LineFileFaults, AFailedWriteLosesThePendingBytesSilently) {
  TempCwd cwd;
  FsFaults faults;
  ASSERT_TRUE(createFile(kFile, "f.txt"));
  writeLine(kFile, "lost");
  faults.failNth(FsCall::Write, 1);
  EXPECT_EQ(fileLength(kFile), 0);  // the store failed: the bytes are gone
  writeLine(kFile, "kept");
  closeFile(kFile);
  EXPECT_EQ(faults.calls(FsCall::Write), 2);
  EXPECT_EQ(cwd.read("f.txt"), "kept\r\n");

  // A write that stops half-way (a full disk) leaves part of the line.
  ASSERT_TRUE(createFile(kFile, "g.txt"));
  writeLine(kFile, "abcdef");
  faults.shortWriteNth(1, 3);
  closeFile(kFile);
  EXPECT_EQ(cwd.read("g.txt"), "abc");

  // A failed read looks like the end of the file.
  cwd.write("h.txt", "line\r\n");
  ASSERT_TRUE(openForRead(kFile, "h.txt"));
  faults.failNth(FsCall::Read, 1);
  EXPECT_TRUE(atEnd(kFile));
  EXPECT_EQ(readLine(kFile), "line");
  closeFile(kFile);
}

TEST(LineFileFaults, OpenFailuresAndTheCreateFallback) {
  TempCwd cwd;
  FsFaults faults;
  cwd.write("f.txt", "old");
  faults.failNth(FsCall::Open, 1);
  EXPECT_FALSE(openForUpdate(kFile, "f.txt"));
  closeFile(kFile);

  // createFile: when the file cannot be made anew for reading and writing,
  // an existing one is emptied for writing only.
  faults.failNth(FsCall::Open, 1);
  ASSERT_TRUE(createFile(kFile, "f.txt"));
  EXPECT_EQ(cwd.read("f.txt"), "");
  writeLine(kFile, "new");
  EXPECT_TRUE(atEnd(kFile));  // a write-only file reads as ended
  closeFile(kFile);
  EXPECT_EQ(cwd.read("f.txt"), "new\r\n");
  EXPECT_EQ(faults.calls(FsCall::Open), 3);

  // Without an existing file the fallback has nothing to empty: failure,
  // and nothing is created.
  faults.failNth(FsCall::Open, 1);
  EXPECT_FALSE(createFile(kFile, "missing.txt"));
  EXPECT_FALSE(cwd.has("missing.txt"));
  closeFile(kFile);
}

// readFailed tells a read that failed from the end of the file; what
// readLine and atEnd give is the same either way.
TEST(LineFileFaults, AFailedReadIsToldApartFromTheEnd) {
  TempCwd cwd;
  cwd.write("f.txt", "one\r\ntwo");
  ASSERT_TRUE(openForRead(kFile, "f.txt"));
  EXPECT_FALSE(readFailed(kFile));
  while (!atEnd(kFile)) readLine(kFile);
  EXPECT_EQ(readLine(kFile), "");
  EXPECT_FALSE(readFailed(kFile));  // the end is no failure
  closeFile(kFile);

  const std::string longLine(5000, 'n');
  cwd.write("g.txt", longLine + "\r\nlast");
  FsFaults faults;
  ASSERT_TRUE(openForRead(kFile, "g.txt"));
  faults.failNth(FsCall::Read, 2);                       // in the middle of the long line
  EXPECT_EQ(readLine(kFile), longLine.substr(0, 4096));  // cut short, as at an end
  EXPECT_TRUE(readFailed(kFile));
  EXPECT_EQ(readLine(kFile), longLine.substr(4096));  // later reads go on where it stopped
  EXPECT_EQ(readLine(kFile), "last");
  EXPECT_TRUE(atEnd(kFile));
  EXPECT_TRUE(readFailed(kFile));  // until the file is closed
  closeFile(kFile);
  EXPECT_FALSE(readFailed(kFile));

  // A failure seen by atEnd counts too; a new open starts afresh.
  ASSERT_TRUE(openForRead(kFile, "f.txt"));
  faults.failNth(FsCall::Read, 1);
  EXPECT_TRUE(atEnd(kFile));
  EXPECT_TRUE(readFailed(kFile));
  ASSERT_TRUE(openForRead(kFile, "f.txt"));
  EXPECT_FALSE(readFailed(kFile));
  EXPECT_EQ(readLine(kFile), "one");
  closeFile(kFile);
  EXPECT_FALSE(readFailed(-1));
}

#ifndef _WIN32
// No open waits on a FIFO (a reader would wait for a writer, a writer for a
// reader): it fails at once, as for a file that cannot be opened.
TEST(LineFileOpen, AFifoIsNoFileAndNothingWaitsForIt) {
  TempCwd cwd;
  Fifo fifo(cwd.path() / "fifo");
  ASSERT_TRUE(fifo.made());
  EXPECT_FALSE(openForRead(kFile, "fifo"));
  EXPECT_FALSE(openForUpdate(kFile, "fifo"));
  EXPECT_FALSE(createFile(kFile, "fifo"));  // its write-only fallback included
  closeFile(kFile);
  EXPECT_TRUE(std::filesystem::is_fifo(cwd.path() / "fifo"));
  EXPECT_FALSE(fifo.wasNeeded());
}
#endif

}  // namespace
