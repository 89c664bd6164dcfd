#pragma once
// A descriptor of Env that closes itself, so no path out of a file operation (an early return, an
// exception) can leave the file open, and with it the lock it holds.

#include <utility>

#include "relay/platform/env.h"

namespace dbrelay {

class ScopedFd {
 public:
  explicit ScopedFd(Env* env) : env_(env) {}
  ~ScopedFd() { Reset(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }

  // Closes the descriptor held and hands out the place for the next one, for Env calls that open.
  int* Receive() {
    Reset();
    return &fd_;
  }

  // Closes now. Only called once the outcome is settled: a late close error changes nothing, and
  // Linux releases the descriptor even when close fails, so it is never closed twice.
  void Reset() {
    if (fd_ >= 0) (void)env_->CloseFile(std::exchange(fd_, -1));
  }

 private:
  Env* env_;
  int fd_ = -1;
};

}  // namespace dbrelay
