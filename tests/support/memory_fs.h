#pragma once
// The file-system table (platform/fs.h) over files held in memory, for tests
// and fuzz targets that want the program's real file code without a disk:
// while a MemoryFs lives, every call of fsCalls() works on its files; its
// destructor puts the previous table back.
//
//   MemoryFs files;
//   files.put(files.directory() + "konta.txt", "1\r\n0\r\n...");
//   loadAccounts(state);                       // LineFile reads it from memory
//   EXPECT_EQ(files.get(files.directory() + "konta.txt"), "...");
//   EXPECT_EQ(files.openCount(), 0);           // nothing left open
//
// The calls answer as the platform's own do (tests/text/memory_fs_test.cpp
// runs the same calls against both): the four open modes, reads and writes at
// one position per handle, a write behind the end fills the gap with NUL
// bytes, truncate keeps the position, rename replaces its target, a NUL in a
// path names no file, a handle opened for reading refuses to write or
// truncate. As on POSIX, a file renamed or removed while open stays readable
// and writable through its handle. There are no folders: a path names a file
// exactly as it is spelled, and currentDirectory() gives directory().
//
// setReadLimit(n) makes every read give at most n bytes, as a pipe or a slow
// device may: code that reads in blocks must not care how the bytes come.
// Only one MemoryFs may exist at a time (a second one aborts the run); an
// FsFaults made while it lives fails calls of the in-memory table.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs.h"

class MemoryFs {
 public:
  explicit MemoryFs(std::string directory = "/mem/");
  ~MemoryFs();
  MemoryFs(const MemoryFs&) = delete;
  MemoryFs& operator=(const MemoryFs&) = delete;

  // The working directory the table reports, ending with one '/'.
  const std::string& directory() const { return directory_; }

  // Creates or replaces a file.
  void put(const std::string& path, std::string bytes);
  // The file's bytes; "" when there is none.
  std::string get(const std::string& path) const;
  bool has(const std::string& path) const { return files_.count(path) != 0; }
  // Removes every file; handles still open keep theirs.
  void clear() { files_.clear(); }

  // 0: no limit.
  void setReadLimit(int64_t bytes) { readLimit_ = bytes; }
  // Handles opened and not yet closed.
  int openCount() const { return openCount_; }

  // Used by the table's stand-ins; not for tests.
  struct Handle {
    std::shared_ptr<std::string> bytes;  // null: the handle is free
    int64_t position = 0;
    bool canRead = false;
    bool canWrite = false;
  };
  platform::FileHandle open(const std::string& path, platform::OpenMode mode);
  Handle* handle(platform::FileHandle file);
  bool close(platform::FileHandle file);
  bool rename(const std::string& from, const std::string& to);
  bool remove(const std::string& path) { return files_.erase(path) != 0; }
  int64_t readLimit() const { return readLimit_; }

 private:
  platform::FsCalls previous_;
  std::string directory_;
  std::map<std::string, std::shared_ptr<std::string>> files_;
  // Handle k is handles_[k - kFirstHandle]; as on POSIX, an open takes the
  // lowest free one.
  static constexpr platform::FileHandle kFirstHandle = 3;  // behind stdin, stdout, stderr
  std::vector<Handle> handles_;
  int openCount_ = 0;
  int64_t readLimit_ = 0;
};
