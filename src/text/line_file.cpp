#include "text/line_file.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "platform/fs.h"
#include "text/swar.h"

// Each file number owns one 4096-byte buffer that holds either bytes read
// ahead of the position or bytes written but not yet stored. Reading and
// writing share one position, so the layer remembers where the platform's
// file pointer stands (`filePosition`): the caller's position is that minus
// the bytes read ahead and not yet taken, plus the bytes waiting in the buffer.
//
// Failures of the platform calls while a file is open are not reported: a
// short write goes unnoticed and a failed read looks like the end of the
// file. Only the open operations say whether they worked, and readFailed
// whether some read has failed.

namespace {

constexpr int kFileNumbers = 8;
constexpr std::size_t kBufferSize = 4096;

enum class Holds { Nothing, ReadAhead, Written };

struct OpenFile {
  platform::FileHandle handle = platform::kNoFile;
  Holds holds = Holds::Nothing;
  // ReadAhead: buffer[begin, end) is not yet taken. Written: buffer[0, end)
  // waits to be stored and begin is 0.
  std::size_t begin = 0;
  std::size_t end = 0;
  int64_t filePosition = 0;  // where the platform's file pointer stands
  bool readFailed = false;   // some read since the open failed
  std::array<char, kBufferSize> buffer{};
};

// Constant-initialised, so closeAllFiles at shut-down needs no set-up.
std::array<OpenFile, kFileNumbers> files;

platform::FsCalls& fs() { return platform::fsCalls(); }

// The slot of a number that holds an open file, else nullptr.
OpenFile* openSlot(int fileNumber) {
  if (fileNumber < 0 || fileNumber >= kFileNumbers) return nullptr;
  OpenFile& file = files[static_cast<std::size_t>(fileNumber)];
  return file.handle == platform::kNoFile ? nullptr : &file;
}

void forgetBuffer(OpenFile& file) {
  file.holds = Holds::Nothing;
  file.begin = file.end = 0;
}

void writeThrough(OpenFile& file, const char* bytes, std::size_t count) {
  const int64_t written = fs().write(file.handle, bytes, static_cast<int64_t>(count));
  if (written > 0) file.filePosition += written;
}

// Written bytes go to the file.
void storePending(OpenFile& file) {
  if (file.holds != Holds::Written) return;
  if (file.end > 0) writeThrough(file, file.buffer.data(), file.end);
  forgetBuffer(file);
}

// Bytes read ahead are given back: the platform's pointer returns to where
// the caller's reading has reached, so that a write lands there.
void dropReadAhead(OpenFile& file) {
  if (file.holds != Holds::ReadAhead) return;
  const int64_t unread = static_cast<int64_t>(file.end - file.begin);
  if (unread > 0 && fs().seek(file.handle, file.filePosition - unread)) file.filePosition -= unread;
  forgetBuffer(file);
}

// Refills an empty read buffer; false at the end of the file, and on a read
// error, which only readFailed tells apart from the end.
bool fill(OpenFile& file) {
  storePending(file);
  forgetBuffer(file);
  const int64_t got = fs().read(file.handle, file.buffer.data(), static_cast<int64_t>(kBufferSize));
  if (got < 0) file.readFailed = true;
  if (got <= 0) return false;
  file.filePosition += got;
  file.holds = Holds::ReadAhead;
  file.end = static_cast<std::size_t>(got);
  return true;
}

void writeBytes(OpenFile& file, const char* bytes, std::size_t count) {
  if (count == 0) return;
  dropReadAhead(file);
  file.holds = Holds::Written;
  if (count >= kBufferSize - file.end) {
    storePending(file);
    if (count >= kBufferSize) {
      writeThrough(file, bytes, count);
      return;
    }
    file.holds = Holds::Written;
  }
  std::memcpy(file.buffer.data() + file.end, bytes, count);
  file.end += count;
}

// Offset of the first NUL, LF or CR in p[0, n), or n: a word at a time, since
// a report page line can run to megabytes.
std::size_t findLineEnd(const char* p, std::size_t n) {
  constexpr uint64_t kLf = swar::broadcast('\n');
  constexpr uint64_t kCr = swar::broadcast('\r');
  std::size_t i = 0;
  for (; n - i >= 8; i += 8) {
    const uint64_t word = swar::load(p + i);
    const uint64_t ends = swar::zeroBytes(word) | swar::zeroBytes(word ^ kLf) | swar::zeroBytes(word ^ kCr);
    if (ends != 0) return i + swar::firstFlagged(ends);
  }
  for (; i < n; ++i) {
    if (p[i] == '\0' || p[i] == '\n' || p[i] == '\r') return i;
  }
  return n;
}

bool openAs(int fileNumber, const std::string& path, platform::OpenMode mode, platform::OpenMode fallback) {
  if (fileNumber < 0 || fileNumber >= kFileNumbers) return false;
  closeFile(fileNumber);  // also when the open below fails: the number ends up free
  platform::FileHandle handle = fs().open(path, mode);
  if (handle == platform::kNoFile && fallback != mode) handle = fs().open(path, fallback);
  if (handle == platform::kNoFile) return false;
  OpenFile& file = files[static_cast<std::size_t>(fileNumber)];
  file.handle = handle;
  file.filePosition = 0;
  file.readFailed = false;
  forgetBuffer(file);
  return true;
}

}  // namespace

bool openForRead(int fileNumber, const std::string& path) {
  return openAs(fileNumber, path, platform::OpenMode::ReadExisting, platform::OpenMode::ReadExisting);
}

bool openForUpdate(int fileNumber, const std::string& path) {
  return openAs(fileNumber, path, platform::OpenMode::ReadWriteOrCreate,
                platform::OpenMode::ReadWriteOrCreate);
}

bool createFile(int fileNumber, const std::string& path) {
  // A file that cannot be created for reading and writing (on Windows a
  // hidden or system file, say) may still be emptied for writing only.
  return openAs(fileNumber, path, platform::OpenMode::ReadWriteTruncate, platform::OpenMode::WriteTruncate);
}

std::string readLine(int fileNumber) {
  OpenFile* file = openSlot(fileNumber);
  if (!file) return {};
  // The line grows as std::string grows, by doubling: memory stays within
  // twice the longest line, whatever the size of the file, and a line of
  // megabytes (a whole report page can be one) is copied only a few times.
  std::string line;
  for (;;) {
    if (file->holds != Holds::ReadAhead || file->begin == file->end) {
      if (!fill(*file)) return line;  // the end of the file ends the line
    }
    const char* unread = file->buffer.data() + file->begin;
    const std::size_t available = file->end - file->begin;
    const std::size_t length = findLineEnd(unread, available);
    line.append(unread, length);
    file->begin += length;
    if (length == available) continue;  // the line goes on in the next block

    const char ending = file->buffer[file->begin++];
    if (ending == '\r') {
      // CR LF is one line end; any other byte after a CR begins the next line.
      if (file->begin == file->end && !fill(*file)) return line;
      if (file->buffer[file->begin] == '\n') ++file->begin;
    }
    return line;
  }
}

bool atEnd(int fileNumber) {
  OpenFile* file = openSlot(fileNumber);
  if (!file) return true;
  if (file->holds == Holds::ReadAhead && file->begin < file->end) return false;
  return !fill(*file);  // reading ahead does not move the caller's position
}

bool readFailed(int fileNumber) {
  const OpenFile* file = openSlot(fileNumber);
  return file != nullptr && file->readFailed;
}

void writeLine(int fileNumber, const std::string& text) {
  OpenFile* file = openSlot(fileNumber);
  if (!file) return;
  writeBytes(*file, text.data(), text.size());
  writeBytes(*file, "\r\n", 2);
}

int64_t fileLength(int fileNumber) {
  OpenFile* file = openSlot(fileNumber);
  if (!file) return 0;
  storePending(*file);
  return fs().size(file->handle);
}

void seekTo(int fileNumber, int64_t position) {
  OpenFile* file = openSlot(fileNumber);
  if (!file) return;
  storePending(*file);
  forgetBuffer(*file);  // bytes read ahead are simply dropped: the seek below moves anyway
  if (fs().seek(file->handle, position)) file->filePosition = position;
}

void closeFile(int fileNumber) {
  OpenFile* file = openSlot(fileNumber);
  if (!file) return;
  storePending(*file);
  fs().close(file->handle);
  file->handle = platform::kNoFile;
  file->filePosition = 0;
  file->readFailed = false;
  forgetBuffer(*file);
}

void closeAllFiles() {
  for (int fileNumber = 0; fileNumber < kFileNumbers; ++fileNumber) closeFile(fileNumber);
}

std::string workingDirectoryPath() { return fs().currentDirectory(); }
