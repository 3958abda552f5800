#include "support/memory_fs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

MemoryFs* active = nullptr;

using platform::FileHandle;
using platform::kNoFile;
using platform::OpenMode;

// Beyond this a write or truncate fails, as on a full disk, instead of
// asking for more memory than a test has.
constexpr int64_t kMaxFileBytes = int64_t{1} << 30;

bool namesNoFile(const std::string& path) { return path.empty() || path.find('\0') != std::string::npos; }

FileHandle memOpen(const std::string& path, OpenMode mode) { return active->open(path, mode); }

int64_t memRead(FileHandle file, void* buffer, int64_t count) {
  MemoryFs::Handle* h = active->handle(file);
  if (!h || !h->canRead) return -1;
  if (count <= 0) return 0;
  const int64_t size = static_cast<int64_t>(h->bytes->size());
  int64_t n = std::min(count, size - h->position);
  if (active->readLimit() > 0) n = std::min(n, active->readLimit());
  if (n <= 0) return 0;
  std::memcpy(buffer, h->bytes->data() + h->position, static_cast<size_t>(n));
  h->position += n;
  return n;
}

int64_t memWrite(FileHandle file, const void* bytes, int64_t count) {
  MemoryFs::Handle* h = active->handle(file);
  if (!h || !h->canWrite) return -1;
  if (count <= 0) return 0;
  if (h->position > kMaxFileBytes || count > kMaxFileBytes - h->position) return -1;
  std::string& data = *h->bytes;
  const size_t at = static_cast<size_t>(h->position);
  const size_t n = static_cast<size_t>(count);
  if (data.size() < at + n) data.resize(at + n, '\0');  // a gap behind the end reads as NUL bytes
  std::memcpy(data.data() + at, bytes, n);
  h->position += count;
  return count;
}

bool memSeek(FileHandle file, int64_t position) {
  MemoryFs::Handle* h = active->handle(file);
  if (!h || position < 0) return false;
  h->position = position;
  return true;
}

int64_t memSize(FileHandle file) {
  const MemoryFs::Handle* h = active->handle(file);
  return h ? static_cast<int64_t>(h->bytes->size()) : -1;
}

bool memTruncate(FileHandle file, int64_t length) {
  MemoryFs::Handle* h = active->handle(file);
  if (!h || !h->canWrite || length < 0 || length > kMaxFileBytes) return false;
  h->bytes->resize(static_cast<size_t>(length), '\0');
  return true;
}

bool memFlush(FileHandle file) { return active->handle(file) != nullptr; }
bool memClose(FileHandle file) { return active->close(file); }
bool memRename(const std::string& from, const std::string& to) { return active->rename(from, to); }
bool memRemove(const std::string& path) { return !namesNoFile(path) && active->remove(path); }
bool memExists(const std::string& path) { return !namesNoFile(path) && active->has(path); }
// Every file held in memory may be written and none is a link: a
// replacement replaces the path itself.
std::string memReplacementTarget(const std::string& path) { return namesNoFile(path) ? std::string() : path; }
std::string memCurrentDirectory() { return active->directory(); }

}  // namespace

MemoryFs::MemoryFs(std::string directory) : previous_(platform::fsCalls()), directory_(std::move(directory)) {
  if (active) {
    std::fputs("MemoryFs: only one may exist at a time\n", stderr);
    std::abort();
  }
  active = this;
  platform::fsCalls() = {&memOpen,  &memRead,  &memWrite,  &memSeek,   &memSize,   &memTruncate,
                         &memFlush, &memClose, &memRename, &memRemove, &memExists, &memReplacementTarget,
                         &memCurrentDirectory};
}

MemoryFs::~MemoryFs() {
  platform::fsCalls() = previous_;
  active = nullptr;
}

void MemoryFs::put(const std::string& path, std::string bytes) {
  files_[path] = std::make_shared<std::string>(std::move(bytes));
}

std::string MemoryFs::get(const std::string& path) const {
  const auto found = files_.find(path);
  return found == files_.end() ? std::string() : *found->second;
}

platform::FileHandle MemoryFs::open(const std::string& path, platform::OpenMode mode) {
  if (namesNoFile(path)) return kNoFile;
  auto found = files_.find(path);
  const bool creates = mode == OpenMode::ReadWriteOrCreate || mode == OpenMode::ReadWriteTruncate;
  if (found == files_.end()) {
    if (!creates) return kNoFile;
    found = files_.emplace(path, std::make_shared<std::string>()).first;
  }
  size_t slot = 0;
  while (slot < handles_.size() && handles_[slot].bytes) ++slot;
  if (slot == handles_.size()) handles_.emplace_back();
  Handle& h = handles_[slot];
  h.bytes = found->second;
  h.position = 0;
  h.canRead = mode != OpenMode::WriteTruncate;
  h.canWrite = mode != OpenMode::ReadExisting;
  if (mode == OpenMode::ReadWriteTruncate || mode == OpenMode::WriteTruncate) h.bytes->clear();
  ++openCount_;
  return kFirstHandle + static_cast<FileHandle>(slot);
}

MemoryFs::Handle* MemoryFs::handle(platform::FileHandle file) {
  if (file < kFirstHandle || file - kFirstHandle >= static_cast<FileHandle>(handles_.size())) return nullptr;
  Handle& h = handles_[static_cast<size_t>(file - kFirstHandle)];
  return h.bytes ? &h : nullptr;
}

bool MemoryFs::close(platform::FileHandle file) {
  Handle* h = handle(file);
  if (!h) return false;
  *h = Handle{};
  --openCount_;
  return true;
}

bool MemoryFs::rename(const std::string& from, const std::string& to) {
  if (namesNoFile(from) || namesNoFile(to)) return false;
  const auto found = files_.find(from);
  if (found == files_.end()) return false;
  if (from == to) return true;
  std::shared_ptr<std::string> bytes = found->second;
  files_.erase(found);
  files_[to] = std::move(bytes);
  return true;
}
