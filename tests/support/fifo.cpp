#include "support/fifo.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Fifo::Fifo(std::filesystem::path path, std::chrono::seconds patience) : path_(std::move(path)) {
  made_ = ::mkfifo(path_.c_str(), 0666) == 0;
  if (!made_) return;
  watchdog_ = std::thread([this, patience] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, patience, [this] { return stopping_; })) return;
    // Read and write at once: a stuck reader gets its writer, a stuck
    // writer its reader. Kept open, so that later opens do not block either.
    bothEnds_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    needed_ = true;
  });
}

Fifo::~Fifo() {
  if (watchdog_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    watchdog_.join();
  }
  if (bothEnds_ >= 0) ::close(bothEnds_);
}

bool Fifo::wasNeeded() {
  std::lock_guard<std::mutex> lock(mutex_);
  return needed_;
}
#endif
