#pragma once
// File-system service, one implementation per platform (posix/, win32/).
// Paths are Windows-1250 byte texts; each platform converts them (UTF-8 on
// Linux, UTF-16 on Windows; never the system code page). Every call goes
// through the table returned by fsCalls(), so a test can make the Nth call of
// one kind fail (tests/support/fs_faults.h does the bookkeeping).
#include <cstdint>
#include <string>
#include <string_view>

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
  // sharing modes, so there it is not enforced. kNoFile on failure.
  FileHandle (*open)(const std::string& path, OpenMode mode);
  int64_t (*read)(FileHandle file, void* buffer, int64_t count);  // bytes read, 0 at end, -1 on error
  // Writes all `count` bytes unless an error stops it: the bytes written, or
  // -1 when an error came before any byte was written. Less than `count`
  // means the rest could not be written (e.g. a full disk).
  int64_t (*write)(FileHandle file, const void* bytes, int64_t count);
  bool (*seek)(FileHandle file, int64_t position);                 // from the start; false if negative
  int64_t (*size)(FileHandle file);                                // -1 on error
  bool (*truncate)(FileHandle file, int64_t length);               // the position stays where it was
  bool (*flush)(FileHandle file);                                  // bytes on disk
  bool (*close)(FileHandle file);                                  // the handle is gone even when false
  bool (*rename)(const std::string& from, const std::string& to);  // replaces `to` atomically
  bool (*remove)(const std::string& path);
  bool (*exists)(const std::string& path);  // any file system entry of that name
  // The working directory as Windows-1250 bytes ending with exactly one
  // separator; empty when unknown or not representable in Windows-1250.
  std::string (*currentDirectory)();
};

// The live table; tests may replace entries and must restore them.
FsCalls& fsCalls();
// The platform's own functions.
const FsCalls& platformFsCalls();

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
