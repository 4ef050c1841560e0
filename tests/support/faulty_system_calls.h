// A stand-in for the system calls that fails them on cue: interrupted by a signal, not ready,
// failing with an error, or moving fewer bytes than asked. Installed for its lifetime. The scripts
// are set before the code under test runs; the calls may then come from several threads (a
// serial port's reader and its owner), and are counted under one lock.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <mutex>

#include "platform/syscall.h"

namespace pagorin::testing {

class FaultySystemCalls : public platform::SystemCalls {
 public:
  // What happens to the calls of one kind, in this order.
  struct Script {
    int interrupts = 0;    // the next this many calls fail with EINTR
    int notReady = 0;      // then this many fail with EAGAIN
    int error = 0;         // then every call fails with this errno (0: none)
    bool nothing = false;  // reads and writes move 0 bytes; a poll times out
    std::size_t cap = 0;   // reads and writes move at most this many bytes (0: no limit)
    int calls = 0;         // calls seen
  };
  Script read, write, poll, open, close, tcdrain, fsync, ioctl, tcsetattr, rename, unlink, flock;

  FaultySystemCalls() noexcept : installed_(*this) {}

  // How many calls of `script`'s kind were made so far; safe while other threads make them.
  int CallsOf(const Script& script) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return script.calls;
  }

  ssize_t Read(int fd, void* buffer, std::size_t size) noexcept override {
    if (Fails(read)) return -1;
    if (read.nothing) return 0;
    return SystemCalls::Read(fd, buffer, Capped(read, size));
  }
  ssize_t Write(int fd, const void* data, std::size_t size) noexcept override {
    if (Fails(write)) return -1;
    if (write.nothing) return 0;
    return SystemCalls::Write(fd, data, Capped(write, size));
  }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) noexcept override {
    if (Fails(poll)) return -1;
    if (poll.nothing) return 0;
    return SystemCalls::Poll(fds, count, timeoutMs);
  }
  int Open(const char* path, int flags, mode_t mode) noexcept override {
    return Fails(open) ? -1 : SystemCalls::Open(path, flags, mode);
  }
  // A failed close still releases the descriptor, as it does on Linux.
  int Close(int fd) noexcept override {
    if (!Fails(close)) return SystemCalls::Close(fd);
    const int error = errno;
    SystemCalls::Close(fd);
    errno = error;
    return -1;
  }
  int Tcdrain(int fd) noexcept override { return Fails(tcdrain) ? -1 : SystemCalls::Tcdrain(fd); }
  int Fsync(int fd) noexcept override { return Fails(fsync) ? -1 : SystemCalls::Fsync(fd); }
  int Ioctl(int fd, unsigned long request, void* argument) noexcept override {
    return Fails(ioctl) ? -1 : SystemCalls::Ioctl(fd, request, argument);
  }
  int Tcsetattr(int fd, int when, const termios* settings) noexcept override {
    return Fails(tcsetattr) ? -1 : SystemCalls::Tcsetattr(fd, when, settings);
  }
  int Rename(const char* from, const char* to) noexcept override {
    return Fails(rename) ? -1 : SystemCalls::Rename(from, to);
  }
  int Unlink(const char* path) noexcept override {
    return Fails(unlink) ? -1 : SystemCalls::Unlink(path);
  }
  int Flock(int fd, int operation) noexcept override {
    return Fails(flock) ? -1 : SystemCalls::Flock(fd, operation);
  }

 private:
  bool Fails(Script& script) noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++script.calls;
    if (script.interrupts > 0) {
      --script.interrupts;
      errno = EINTR;
      return true;
    }
    if (script.notReady > 0) {
      --script.notReady;
      errno = EAGAIN;
      return true;
    }
    if (script.error != 0) {
      errno = script.error;
      return true;
    }
    return false;
  }
  std::size_t Capped(const Script& script, std::size_t size) noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    return script.cap != 0 ? std::min(size, script.cap) : size;
  }

  std::mutex mutex_;
  platform::ScopedSystemCalls installed_;
};

}  // namespace pagorin::testing
