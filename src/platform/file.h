#pragma once
// One open file of the file-system table (fs.h), closed when it goes out of
// scope unless it was closed before. Every call goes through fsCalls(), so
// the fault table of the tests sees each of them.
//
//   platform::File file("a.txt", platform::OpenMode::ReadWriteTruncate);
//   if (!file.isOpen() || !file.writeAll(bytes) || !file.flush()) return false;
//   return file.close();  // the close's own result; no second close follows
//
// Move-only: a moved-from File holds nothing and closes nothing.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/fs.h"

namespace platform {

class File {
 public:
  File() = default;
  File(const std::string& path, OpenMode mode) : handle_(fsCalls().open(path, mode)) {}
  ~File() { discard(); }

  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNoFile)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      discard();
      handle_ = std::exchange(other.handle_, kNoFile);
    }
    return *this;
  }

  // Opens path, closing first whatever this File held; false when the open
  // failed (the File then holds nothing).
  bool open(const std::string& path, OpenMode mode) {
    discard();
    handle_ = fsCalls().open(path, mode);
    return isOpen();
  }
  bool isOpen() const { return handle_ != kNoFile; }

  // The calls of fs.h on this file; a File that holds nothing must not be
  // passed to them.
  bool writeAll(std::string_view bytes) const { return platform::writeAll(handle_, bytes); }
  int64_t size() const { return fsCalls().size(handle_); }
  bool seek(int64_t position) const { return fsCalls().seek(handle_, position); }
  bool truncate(int64_t length) const { return fsCalls().truncate(handle_, length); }
  bool flush() const { return fsCalls().flush(handle_); }

  // Closes the file now and reports whether the close succeeded; the file is
  // closed either way, and the destructor closes nothing more. False too
  // when nothing was open.
  bool close() {
    if (!isOpen()) return false;
    return fsCalls().close(std::exchange(handle_, kNoFile));
  }

 private:
  // A close whose result nobody asked for: the scope was left on a failure
  // already reported, or the data was on disk before.
  void discard() {
    if (isOpen()) fsCalls().close(std::exchange(handle_, kNoFile));
  }

  FileHandle handle_ = kNoFile;
};

}  // namespace platform
