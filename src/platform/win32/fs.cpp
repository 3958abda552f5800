// Files on Windows through the W functions. Paths arrive as Windows-1250
// bytes and are converted to UTF-16 with the program's own table, never the
// system code page, so "Paweł.txt" is the same file on every Windows.
#include "platform/fs.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "encoding/cp1250.h"

namespace platform {
namespace {

// A path holding a NUL byte would be cut short by the W calls and name some
// other file: such a path names no file at all.
bool toWidePath(const std::string& path, std::wstring& wide) {
  if (path.find('\0') != std::string::npos) return false;
  const std::u16string utf16 = cp1250ToUtf16(path);
  wide.assign(utf16.begin(), utf16.end());
  return true;
}

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle openFile(const std::string& path, OpenMode mode) {
  std::wstring wide;
  if (!toWidePath(path, wide)) return kNoFile;
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::ReadExisting:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      break;
    case OpenMode::ReadWriteOrCreate:
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::ReadWriteTruncate:
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::WriteTruncate:
      access = GENERIC_WRITE;
      disposition = TRUNCATE_EXISTING;
      break;
  }
  // FILE_SHARE_READ only: while the program holds the file, others may read
  // it but not write, rename or delete it; an open that conflicts with
  // another program's hold fails here.
  const HANDLE file = CreateFileW(wide.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  // Only files on a disk: CreateFileW opens devices (NUL, COM1, CON) and the
  // client end of a pipe just as well, which are no files of the tool.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(file);
}

// At most this much per call: ReadFile and WriteFile take a 32-bit count.
constexpr int64_t kChunk = 1 << 30;

int64_t readFile(FileHandle file, void* buffer, int64_t count) {
  if (count <= 0) return 0;
  DWORD got = 0;
  if (!ReadFile(handleOf(file), buffer, static_cast<DWORD>(count < kChunk ? count : kChunk), &got, nullptr)) {
    return -1;
  }
  return got;
}

int64_t writeFile(FileHandle file, const void* bytes, int64_t count) {
  const char* at = static_cast<const char*>(bytes);
  int64_t done = 0;
  while (done < count) {
    const int64_t left = count - done;
    DWORD put = 0;
    const BOOL ok = WriteFile(handleOf(file), at + done, static_cast<DWORD>(left < kChunk ? left : kChunk),
                              &put, nullptr);
    if (!ok || put == 0) return done > 0 ? done : -1;
    done += put;
  }
  return done;
}

bool seekFile(FileHandle file, int64_t position) {
  if (position < 0) return false;
  LARGE_INTEGER to;
  to.QuadPart = position;
  return SetFilePointerEx(handleOf(file), to, nullptr, FILE_BEGIN) != 0;
}

int64_t fileSize(FileHandle file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handleOf(file), &size)) return -1;
  return size.QuadPart;
}

bool truncateFile(FileHandle file, int64_t length) {
  if (length < 0) return false;
  // SetEndOfFile cuts at the file pointer: move it there and back again.
  LARGE_INTEGER zero, here, to;
  zero.QuadPart = 0;
  to.QuadPart = length;
  const HANDLE h = handleOf(file);
  if (!SetFilePointerEx(h, zero, &here, FILE_CURRENT)) return false;
  const bool cut = SetFilePointerEx(h, to, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  const bool back = SetFilePointerEx(h, here, nullptr, FILE_BEGIN) != 0;
  return cut && back;
}

bool flushFile(FileHandle file) { return FlushFileBuffers(handleOf(file)) != 0; }

bool closeFile(FileHandle file) { return CloseHandle(handleOf(file)) != 0; }

bool renameFile(const std::string& from, const std::string& to) {
  std::wstring wideFrom, wideTo;
  return toWidePath(from, wideFrom) && toWidePath(to, wideTo) &&
         MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
             0;
}

bool removeFile(const std::string& path) {
  std::wstring wide;
  return toWidePath(path, wide) && DeleteFileW(wide.c_str()) != 0;
}

bool pathExists(const std::string& path) {
  std::wstring wide;
  return toWidePath(path, wide) && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string replacementTarget(const std::string& path) {
  std::wstring wide;
  if (!toWidePath(path, wide)) return {};
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? path : std::string();
  std::string target = path;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A symbolic link: CreateFileW follows it (and any chain) to the file
    // at its end, whose path the handle then gives. Asking for no access
    // reads nothing and conflicts with no other program's hold.
    const HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};  // a link that leads nowhere
    std::wstring finalPath(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, finalPath.data(), static_cast<DWORD>(finalPath.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= finalPath.size()) {
      finalPath.resize(length);  // the size it needs, with its terminating NUL
      length = GetFinalPathNameByHandleW(file, finalPath.data(), static_cast<DWORD>(finalPath.size()),
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    CloseHandle(file);
    if (length == 0 || length >= finalPath.size()) return {};
    finalPath.resize(length);  // "\\?\C:\...", which the W functions take as it is
    const std::u16string utf16(finalPath.begin(), finalPath.end());
    target = utf16ToCp1250(utf16);
    if (cp1250ToUtf16(target) != utf16) return {};
    attributes = GetFileAttributesW(finalPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  }
  // MoveFileExW refuses to replace a read-only file on Windows, but not
  // everywhere the program runs (Wine does replace it): refused here alike.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return {};
  return target;
}

std::string currentDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(length);  // the size it needs, with its terminating NUL
  }
  const std::u16string utf16(buffer.begin(), buffer.end());
  const std::string path = utf16ToCp1250(utf16);
  // A directory whose name Windows-1250 cannot hold would become a path
  // with '?' in it, which names nothing: better no directory at all.
  if (path.empty() || cp1250ToUtf16(path) != utf16) return {};
  return path.back() == '\\' || path.back() == '/' ? path : path + '\\';
}

}  // namespace

template <>
const FsCalls CallTable<FsCalls>::kPlatform{
    &openFile,  &readFile,   &writeFile,  &seekFile,   &fileSize,          &truncateFile,     &flushFile,
    &closeFile, &renameFile, &removeFile, &pathExists, &replacementTarget, &currentDirectory,
};

}  // namespace platform
