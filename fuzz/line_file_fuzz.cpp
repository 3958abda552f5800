// LineFile over files held in memory: a script of line-file operations on two
// file numbers, each over a file of its own, run beside a plain model of
// what they do: the file's bytes and the caller's position. Every line read,
// every atEnd and fileLength, and the bytes of each file whenever it is
// closed must be the model's, however the reads come in pieces; at the end a
// fresh read of each file, line by line to its end, gives the lines of the
// model's bytes.
//
// Input: byte 0 chooses the size of the reads (bits 0-2) and how file 0 is
// opened first (bits 3-4); byte 1 is the script's length L; the next L bytes
// are the script; the rest is what file 0 holds at the start (file 1 does
// not exist yet). A script byte is one operation: bits 0-2 which, bit 3 the
// file number, bits 4-7 its argument (see the switch below). The seeds are
// written by fuzz/line_file_seeds.py.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/memory_fs.h"
#include "text/line_file.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// The line that begins at `position`, which moves behind its end: CR LF, LF,
// CR and NUL each end a line, and so does the end of the bytes.
std::string lineAt(const std::string& bytes, int64_t& position) {
  if (position >= static_cast<int64_t>(bytes.size())) return {};
  const size_t from = static_cast<size_t>(position);
  size_t end = bytes.size();
  // memchr, as lines run to thousands of bytes; each search stops at the
  // nearest end found so far, LF (the most common) first.
  for (const char ending : {'\n', '\r', '\0'}) {
    const void* at = std::memchr(bytes.data() + from, ending, end - from);
    if (at) end = static_cast<size_t>(static_cast<const char*>(at) - bytes.data());
  }
  std::string line = bytes.substr(from, end - from);
  size_t next = end + 1;
  if (end < bytes.size() && bytes[end] == '\r' && next < bytes.size() && bytes[next] == '\n') ++next;
  position = static_cast<int64_t>(std::min(next, bytes.size()));
  return line;
}

// What a file number holds, as the caller sees it.
struct Model {
  std::string path;
  bool exists = false;
  std::string bytes;  // the file with every written byte stored
  bool open = false;
  bool writable = false;
  int64_t position = 0;

  int64_t size() const { return static_cast<int64_t>(bytes.size()); }

  std::string readLine() {
    if (!open) return {};
    return lineAt(bytes, position);
  }

  bool atEnd() const { return !open || position >= size(); }

  // On a file opened for reading only, the write goes nowhere and the
  // position stays.
  void writeLine(const std::string& text) {
    if (!open || !writable) return;
    const std::string line = text + "\r\n";
    const size_t at = static_cast<size_t>(position);
    if (bytes.size() < at + line.size()) bytes.resize(at + line.size(), '\0');
    bytes.replace(at, line.size(), line);
    position += static_cast<int64_t>(line.size());
  }

  int64_t fileLength() const { return open ? size() : 0; }

  void seekTo(int64_t to) {
    if (open) position = to;
  }

  void close() {
    open = false;
    position = 0;
  }

  // 0: openForRead, 1: openForUpdate, 2: createFile. The number is closed
  // first, also when the open fails.
  bool reopen(int how) {
    close();
    if (how == 0 && !exists) return false;
    exists = true;
    if (how == 2) bytes.clear();
    open = true;
    writable = how != 0;
    return true;
  }
};

bool reopen(int fileNumber, Model& model, int how) {
  const bool expected = model.reopen(how);
  bool opened = false;
  switch (how) {
    case 0:
      opened = openForRead(fileNumber, model.path);
      break;
    case 1:
      opened = openForUpdate(fileNumber, model.path);
      break;
    default:
      opened = createFile(fileNumber, model.path);
      break;
  }
  return opened == expected;
}

void requireStored(const MemoryFs& fs, const Model& model) {
  require(fs.has(model.path) == model.exists);
  if (model.exists) require(fs.get(model.path) == model.bytes);
}

// A number that holds no file: reads give nothing, everything else does nothing.
void onNoFile(int fileNumber, int which, const Model& file0) {
  switch (which) {
    case 0:
      require(readLine(fileNumber).empty());
      break;
    case 1:
      require(atEnd(fileNumber));
      break;
    case 2:
      require(fileLength(fileNumber) == 0);
      break;
    case 3:
      writeLine(fileNumber, "x");
      break;
    case 4:
      seekTo(fileNumber, 1);
      break;
    case 5:
      closeFile(fileNumber);
      break;
    default:
      require(!openForRead(fileNumber, file0.path));
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // LineFile asks for 4096 bytes at a time: 0 (no limit) is a whole block.
  static const int64_t kReadLimits[] = {0, 1, 3, 7, 61, 2048, 4095, 0};
  static MemoryFs* fs = new MemoryFs();  // the whole run, never given back
  if (size < 2) return 0;
  fs->setReadLimit(kReadLimits[data[0] & 7]);

  const size_t scriptEnd = std::min(size, size_t{2} + data[1]);
  std::vector<Model> models(2);
  models[0].path = fs->directory() + "zero.txt";
  models[1].path = fs->directory() + "one.txt";
  models[0].exists = true;
  models[0].bytes.assign(reinterpret_cast<const char*>(data) + scriptEnd, size - scriptEnd);
  fs->put(models[0].path, models[0].bytes);
  const int firstOpen = (data[0] >> 3) & 3;
  if (firstOpen < 3) require(reopen(0, models[0], firstOpen));

  int longLines = 0;
  for (size_t at = 2; at < scriptEnd;) {
    const uint8_t op = data[at++];
    const int number = (op >> 3) & 1;
    const int argument = op >> 4;
    Model& model = models[static_cast<size_t>(number)];
    switch (op & 7) {
      case 0:
        require(readLine(number) == model.readLine());
        break;
      case 1:
        require(atEnd(number) == model.atEnd());
        break;
      case 2: {
        // Up to 14 bytes of the script as the text, or (15) one byte of it
        // repeated into a line longer than LineFile's buffer. Two such lines
        // an input are enough to cross every edge; more would only make the
        // input slow, so later ones are plain 15-byte texts.
        std::string text;
        if (argument == 15 && longLines < 2) {
          ++longLines;
          text.assign(4100, at < scriptEnd ? static_cast<char>(data[at++]) : 'x');
        } else {
          const size_t n = std::min<size_t>(static_cast<size_t>(argument), scriptEnd - at);
          text.assign(reinterpret_cast<const char*>(data) + at, n);
          at += n;
        }
        writeLine(number, text);
        model.writeLine(text);
        break;
      }
      case 3: {
        // The first bytes, the last bytes, the end, or behind it.
        int64_t to = argument;
        if (argument >= 8) to = std::max<int64_t>(0, model.size() - (14 - argument));
        if (argument == 15) to = model.size() + 2;
        seekTo(number, to);
        model.seekTo(to);
        break;
      }
      case 4:
        require(fileLength(number) == model.fileLength());
        break;
      case 5:
        require(reopen(number, model, argument % 3));
        break;
      case 6:
        closeFile(number);
        model.close();
        requireStored(*fs, model);
        break;
      default:
        onNoFile(argument & 1 ? -1 : 8, argument >> 1, models[0]);
        break;
    }
  }

  closeAllFiles();
  require(fs->openCount() == 0);
  for (Model& model : models) {
    model.close();
    requireStored(*fs, model);
    if (!model.exists) continue;
    require(openForRead(0, model.path));
    int64_t position = 0;
    while (!atEnd(0)) require(readLine(0) == lineAt(model.bytes, position));
    require(position == model.size());
    closeFile(0);
  }
  fs->clear();  // what an input made is gone behind it, as libFuzzer's leak check expects
  return 0;
}
