#pragma once
// A FIFO for tests of what the program does with a file that is no regular
// file (POSIX only; Windows has no FIFOs in its file system).
//
// An open of a FIFO waits for the other end: a reader for a writer, a writer
// for a reader. So that a test of such an open fails instead of hanging, a
// watchdog opens both ends itself once `patience` has passed, which lets any
// open that is stuck on the FIFO return; wasNeeded() then says so.
#ifndef _WIN32
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

class Fifo {
 public:
  explicit Fifo(std::filesystem::path path, std::chrono::seconds patience = std::chrono::seconds(10));
  ~Fifo();
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  bool made() const { return made_; }
  // True when some open had not returned within `patience`.
  bool wasNeeded();

 private:
  std::filesystem::path path_;
  bool made_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool needed_ = false;
  int bothEnds_ = -1;
  std::thread watchdog_;
};
#endif
