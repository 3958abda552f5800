// Files on POSIX. Paths arrive as Windows-1250 bytes and go to the file
// system as UTF-8, so the database of the account "Paweł" is "Paweł.txt" here
// as on Windows.
#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "encoding/cp1250.h"

namespace platform {
namespace {

// A path holding a NUL byte would be cut short by the C calls and name some
// other file: such a path names no file at all.
bool toNativePath(const std::string& path, std::string& native) {
  if (path.find('\0') != std::string::npos) return false;
  native = cp1250ToUtf8(path);
  return true;
}

int fd(FileHandle file) { return static_cast<int>(file); }

FileHandle openFile(const std::string& path, OpenMode mode) {
  std::string native;
  if (!toNativePath(path, native)) return kNoFile;
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::ReadExisting:
      flags |= O_RDONLY;
      break;
    case OpenMode::ReadWriteOrCreate:
      flags |= O_RDWR | O_CREAT;
      break;
    case OpenMode::ReadWriteTruncate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case OpenMode::WriteTruncate:
      flags |= O_WRONLY | O_TRUNC;
      break;
  }
  // Opened without blocking, so that a FIFO (whose open waits for the other
  // end) or a device cannot hold the program up; for a regular file the flag
  // changes nothing and is cleared again below.
  flags |= O_NONBLOCK;
  int file;
  do {
    file = ::open(native.c_str(), flags, 0666);
  } while (file < 0 && errno == EINTR);
  if (file < 0) return kNoFile;
  // Only regular files: a directory opens for reading on POSIX but reads
  // nothing but errors, a FIFO or a device is no file of the tool, and
  // Windows refuses them all too.
  struct stat info;
  const int status = ::fcntl(file, F_GETFL);
  if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || status < 0 ||
      ::fcntl(file, F_SETFL, status & ~O_NONBLOCK) != 0) {
    ::close(file);
    return kNoFile;
  }
  return file;
}

// At most this much per system call (Linux moves at most about 2 GiB at once).
constexpr int64_t kChunk = INT_MAX / 2 + 1;

int64_t readFile(FileHandle file, void* buffer, int64_t count) {
  if (count <= 0) return 0;
  ssize_t got;
  do {
    got = ::read(fd(file), buffer, static_cast<size_t>(count < kChunk ? count : kChunk));
  } while (got < 0 && errno == EINTR);
  return got;
}

int64_t writeFile(FileHandle file, const void* bytes, int64_t count) {
  const char* at = static_cast<const char*>(bytes);
  int64_t done = 0;
  while (done < count) {
    const int64_t left = count - done;
    const ssize_t put = ::write(fd(file), at + done, static_cast<size_t>(left < kChunk ? left : kChunk));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return done > 0 ? done : -1;
    done += put;
  }
  return done;
}

bool seekFile(FileHandle file, int64_t position) {
  return position >= 0 && ::lseek(fd(file), static_cast<off_t>(position), SEEK_SET) == position;
}

int64_t fileSize(FileHandle file) {
  struct stat info;
  if (::fstat(fd(file), &info) != 0) return -1;
  return info.st_size;
}

bool truncateFile(FileHandle file, int64_t length) {
  if (length < 0) return false;
  int result;
  do {
    result = ::ftruncate(fd(file), static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool flushFile(FileHandle file) { return ::fsync(fd(file)) == 0; }

// No retry on EINTR: on Linux the descriptor is released whatever close says.
bool closeFile(FileHandle file) { return ::close(fd(file)) == 0; }

bool renameFile(const std::string& from, const std::string& to) {
  std::string nativeFrom, nativeTo;
  if (!toNativePath(from, nativeFrom) || !toNativePath(to, nativeTo)) return false;
  // The new file takes the old one's permission bits before it takes its
  // place, so that a file kept private (0600, say) does not become readable
  // to others through a save.
  struct stat old;
  if (::stat(nativeTo.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      ::chmod(nativeFrom.c_str(), old.st_mode & 07777) != 0) {
    return false;
  }
  return ::rename(nativeFrom.c_str(), nativeTo.c_str()) == 0;
}

bool removeFile(const std::string& path) {
  std::string native;
  return toNativePath(path, native) && ::unlink(native.c_str()) == 0;
}

bool pathExists(const std::string& path) {
  std::string native;
  struct stat info;
  return toNativePath(path, native) && ::lstat(native.c_str(), &info) == 0;
}

std::string replacementTarget(const std::string& path) {
  std::string native;
  if (!toNativePath(path, native)) return {};
  struct stat entry;
  if (::lstat(native.c_str(), &entry) != 0) return errno == ENOENT ? path : std::string();
  std::string target = native;
  if (S_ISLNK(entry.st_mode)) {
    // The end of the chain, as an absolute path; none for a link that leads
    // nowhere or round in a loop.
    char* resolved = ::realpath(native.c_str(), nullptr);
    if (resolved == nullptr) return {};
    target = resolved;
    std::free(resolved);
    if (!utf8FitsCp1250(target)) return {};
  }
  // Read-only for everyone is read-only also for a user whom the system lets
  // write anyway (root): that is what the read-only attribute means on
  // Windows, and what a player who made the file so wants.
  struct stat info;
  if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
      ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return {};
  }
  return target == native ? path : utf8ToCp1250(target);
}

std::string currentDirectory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
  // Linux marks a directory that is no longer reachable with "(unreachable)".
  const std::string utf8(buffer.data());
  if (utf8.empty() || utf8.front() != '/' || !utf8FitsCp1250(utf8)) return {};
  std::string path = utf8ToCp1250(utf8);
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace

template <>
const FsCalls CallTable<FsCalls>::kPlatform{
    &openFile,  &readFile,   &writeFile,  &seekFile,   &fileSize,          &truncateFile,     &flushFile,
    &closeFile, &renameFile, &removeFile, &pathExists, &replacementTarget, &currentDirectory,
};

}  // namespace platform
