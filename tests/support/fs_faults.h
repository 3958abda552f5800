#pragma once
// Makes chosen calls of the file-system table (platform/fs.h) fail, for tests
// of what the program does when the disk lets it down. While an FsFaults
// lives, every call of the table is counted and, where a test asked for it,
// failed; its destructor puts the previous table back (support/call_tables.h).
//
//   FsFaults faults;
//   faults.failNth(FsCall::Rename, 1);     // the next rename fails
//   faults.failFrom(FsCall::Write, 2);     // the 2nd write from now on and all after it fail
//   faults.shortWriteNth(1, 3);            // the next write stores its first 3 bytes only
//   ...run the code under test...
//   EXPECT_EQ(faults.calls(FsCall::Flush), 1);
//   EXPECT_EQ(faults.log().back(), FsCall::Close);  // the calls in their order
//
// A failed call does what the real one does on an error, and nothing else:
//   Open -> kNoFile, no file created or emptied;  Read / Size -> -1;
//   Write -> -1, nothing written;  Seek / Truncate / Flush / Rename / Remove
//   -> false, nothing changed;  Close -> false, but the file IS closed (as a
//   real close error leaves it);  CurrentDirectory -> "" (not known).
// exists and replacementTarget only ask; they are passed on and not counted.
// Only one FsFaults may exist at a time (a second one aborts the test run).
#include <array>
#include <cstdint>
#include <vector>

#include "platform/fs.h"
#include "support/call_tables.h"

enum class FsCall { Open, Read, Write, Seek, Size, Truncate, Flush, Close, Rename, Remove, CurrentDirectory };

class FsFaults {
 public:
  FsFaults();
  ~FsFaults();
  FsFaults(const FsFaults&) = delete;
  FsFaults& operator=(const FsFaults&) = delete;

  // n counts from 1 and from the moment of this call: failNth(Write, 1) fails
  // the very next write. Later calls of that kind succeed again.
  void failNth(FsCall call, int n);
  // The nth call counted as above and every one after it fail.
  void failFrom(FsCall call, int n = 1);
  // The nth write from now stores only its first `keep` bytes and returns
  // `keep`, like a write onto a disk that has just become full.
  void shortWriteNth(int n, int64_t keep);
  // Calls of that kind since this FsFaults was made, failed ones included.
  int calls(FsCall call) const;
  // Every counted call since this FsFaults was made, in the order made.
  const std::vector<FsCall>& log() const { return log_; }
  // Files that open gave and close has not yet closed.
  int filesOpen() const { return filesOpen_; }
  // The most bytes one write was asked to write.
  int64_t largestWrite() const { return largestWrite_; }

  // Used by the table's stand-ins; not for tests.
  struct Rule {
    int first, last;  // call numbers, counted since construction
    int64_t keep;     // Write only: bytes let through; -1 for a plain failure
  };
  const Rule* next(FsCall call);
  const platform::FsCalls& previous() const { return table_.saved(); }
  void opened() { ++filesOpen_; }
  void closed() { --filesOpen_; }
  void writing(int64_t count) { largestWrite_ = count > largestWrite_ ? count : largestWrite_; }

 private:
  static constexpr int kKinds = static_cast<int>(FsCall::CurrentDirectory) + 1;
  ScopedCalls<platform::FsCalls> table_;
  std::array<int, kKinds> counts_{};
  std::array<std::vector<Rule>, kKinds> rules_;
  std::vector<FsCall> log_;
  int filesOpen_ = 0;
  int64_t largestWrite_ = 0;
};
