#pragma once
// File-system service, one implementation per platform (posix/, win32/).
// Paths are Windows-1250 byte texts; each platform converts them (UTF-8 on
// Linux, UTF-16 on Windows; never the system code page). Every call goes
// through the table returned by fsCalls(), so a test can make the Nth call of
// one kind fail (tests/support/fs_faults.h does the bookkeeping).
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/call_table.h"

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

enum class OpenMode {
  ReadExisting,       // read only; fails if missing
  ReadWriteOrCreate,  // read and write; created empty if missing, contents kept
  ReadWriteTruncate,  // read and write; created or emptied
  WriteTruncate,      // write only, existing file emptied (fallback of a failed truncate)
};

struct FsCalls {
  // Position 0. While a file is open others may read it but not write it:
  // Windows enforces that with its sharing mode; POSIX has no mandatory
  // sharing modes, so there it is not enforced. Only regular files (files on
  // a disk) open; anything else (a directory, a FIFO, a pipe, a device)
  // fails at once, without waiting for the other end. kNoFile on failure.
  FileHandle (*open)(const std::string& path, OpenMode mode);
  int64_t (*read)(FileHandle file, void* buffer, int64_t count);  // bytes read, 0 at end, -1 on error
  // Writes all `count` bytes unless an error stops it: the bytes written, or
  // -1 when an error came before any byte was written. Less than `count`
  // means the rest could not be written (e.g. a full disk).
  int64_t (*write)(FileHandle file, const void* bytes, int64_t count);
  bool (*seek)(FileHandle file, int64_t position);    // from the start; false if negative
  int64_t (*size)(FileHandle file);                   // -1 on error
  bool (*truncate)(FileHandle file, int64_t length);  // the position stays where it was
  bool (*flush)(FileHandle file);                     // bytes on disk
  bool (*close)(FileHandle file);                     // the handle is gone even when false
  // Replaces `to` atomically. The file then at `to` keeps the permission
  // bits of the one it replaced (POSIX; Windows has none to keep).
  bool (*rename)(const std::string& from, const std::string& to);
  bool (*remove)(const std::string& path);
  bool (*exists)(const std::string& path);  // any file system entry of that name
  // The file that a replacement of `path` (a new file renamed over it) has
  // to replace: `path` itself, or when `path` is a symbolic link the file
  // that the link leads to (through any chain of links), so that the link
  // stays and goes on leading to the new contents; `path` also when nothing
  // is there yet. Empty when the file there may not be written (read-only,
  // or no regular file) or a link leads nowhere: that file is to be left as
  // it is.
  std::string (*replacementTarget)(const std::string& path);
  // The working directory as Windows-1250 bytes ending with exactly one
  // separator; empty when unknown or not representable in Windows-1250.
  std::string (*currentDirectory)();
};

template <>
const FsCalls CallTable<FsCalls>::kPlatform;  // posix/fs.cpp, win32/fs.cpp
// The live table (tests replace entries through tests/support/call_tables.h).
inline FsCalls& fsCalls() { return CallTable<FsCalls>::live(); }
// The platform's own functions.
inline const FsCalls& platformFsCalls() { return CallTable<FsCalls>::platform(); }

// Writes all of bytes through fsCalls(), going on after a short write; false
// when a write fails or makes no progress.
inline bool writeAll(FileHandle file, std::string_view bytes) {
  while (!bytes.empty()) {
    const int64_t written = fsCalls().write(file, bytes.data(), static_cast<int64_t>(bytes.size()));
    if (written <= 0 || written > static_cast<int64_t>(bytes.size())) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace platform
