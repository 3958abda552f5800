#include "support/fs_faults.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

FsFaults* active = nullptr;

using platform::FileHandle;
using platform::OpenMode;

// Counts the call and says whether (and how) it is to fail.
const FsFaults::Rule* failing(FsCall call) { return active->next(call); }

FileHandle standOpen(const std::string& path, OpenMode mode) {
  if (failing(FsCall::Open)) return platform::kNoFile;
  const FileHandle file = active->previous().open(path, mode);
  if (file != platform::kNoFile) active->opened();
  return file;
}
int64_t standRead(FileHandle file, void* buffer, int64_t count) {
  return failing(FsCall::Read) ? -1 : active->previous().read(file, buffer, count);
}
int64_t standWrite(FileHandle file, const void* bytes, int64_t count) {
  const FsFaults::Rule* rule = failing(FsCall::Write);
  active->writing(count);
  if (!rule) return active->previous().write(file, bytes, count);
  if (rule->keep < 0) return -1;
  const int64_t kept = rule->keep < count ? rule->keep : count;
  return kept > 0 ? active->previous().write(file, bytes, kept) : -1;
}
bool standSeek(FileHandle file, int64_t position) {
  return failing(FsCall::Seek) ? false : active->previous().seek(file, position);
}
int64_t standSize(FileHandle file) { return failing(FsCall::Size) ? -1 : active->previous().size(file); }
bool standTruncate(FileHandle file, int64_t length) {
  return failing(FsCall::Truncate) ? false : active->previous().truncate(file, length);
}
bool standFlush(FileHandle file) { return failing(FsCall::Flush) ? false : active->previous().flush(file); }
bool standClose(FileHandle file) {
  const bool fail = failing(FsCall::Close) != nullptr;
  active->closed();
  const bool closed = active->previous().close(file);
  return closed && !fail;
}
bool standRename(const std::string& from, const std::string& to) {
  return failing(FsCall::Rename) ? false : active->previous().rename(from, to);
}
bool standRemove(const std::string& path) {
  return failing(FsCall::Remove) ? false : active->previous().remove(path);
}
bool standExists(const std::string& path) { return active->previous().exists(path); }
std::string standReplacementTarget(const std::string& path) {
  return active->previous().replacementTarget(path);
}
std::string standCurrentDirectory() {
  return failing(FsCall::CurrentDirectory) ? std::string() : active->previous().currentDirectory();
}

}  // namespace

FsFaults::FsFaults() {
  if (active) {
    std::fputs("FsFaults: only one may exist at a time\n", stderr);
    std::abort();
  }
  active = this;
  *table_ = {
      &standOpen,
      &standRead,
      &standWrite,
      &standSeek,
      &standSize,
      &standTruncate,
      &standFlush,
      &standClose,
      &standRename,
      &standRemove,
      &standExists,
      &standReplacementTarget,
      &standCurrentDirectory,
  };
}

FsFaults::~FsFaults() { active = nullptr; }

void FsFaults::failNth(FsCall call, int n) {
  const int at = counts_[static_cast<int>(call)] + n;
  rules_[static_cast<int>(call)].push_back({at, at, -1});
}

void FsFaults::failFrom(FsCall call, int n) {
  rules_[static_cast<int>(call)].push_back({counts_[static_cast<int>(call)] + n, INT_MAX, -1});
}

void FsFaults::shortWriteNth(int n, int64_t keep) {
  const int at = counts_[static_cast<int>(FsCall::Write)] + n;
  rules_[static_cast<int>(FsCall::Write)].push_back({at, at, keep < 0 ? 0 : keep});
}

int FsFaults::calls(FsCall call) const { return counts_[static_cast<int>(call)]; }

const FsFaults::Rule* FsFaults::next(FsCall call) {
  const int number = ++counts_[static_cast<int>(call)];
  log_.push_back(call);
  for (const Rule& rule : rules_[static_cast<int>(call)]) {
    if (number >= rule.first && number <= rule.last) return &rule;
  }
  return nullptr;
}
