#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "platform/syscall.h"

namespace pagorin::platform {
namespace {

SystemCalls& TheSystem() noexcept {
  static SystemCalls system;
  return system;
}

std::atomic<SystemCalls*>& Current() noexcept {
  static std::atomic<SystemCalls*> current{&TheSystem()};
  return current;
}

SystemCalls& Calls() noexcept {
  return *Current().load(std::memory_order_acquire);
}

}  // namespace

ssize_t SystemCalls::Read(int fd, void* buffer, std::size_t size) noexcept {
  return ::read(fd, buffer, size);
}
ssize_t SystemCalls::Write(int fd, const void* data, std::size_t size) noexcept {
  return ::write(fd, data, size);
}
int SystemCalls::Poll(pollfd* fds, nfds_t count, int timeoutMs) noexcept {
  return ::poll(fds, count, timeoutMs);
}
int SystemCalls::Open(const char* path, int flags, mode_t mode) noexcept {
  return ::open(path, flags, mode);
}
int SystemCalls::Close(int fd) noexcept {
  return ::close(fd);
}
int SystemCalls::Tcdrain(int fd) noexcept {
  return ::tcdrain(fd);
}
int SystemCalls::Fsync(int fd) noexcept {
  return ::fsync(fd);
}
int SystemCalls::Ioctl(int fd, unsigned long request, void* argument) noexcept {
  return ::ioctl(fd, request, argument);
}
int SystemCalls::Tcsetattr(int fd, int when, const termios* settings) noexcept {
  return ::tcsetattr(fd, when, settings);
}
int SystemCalls::Rename(const char* from, const char* to) noexcept {
  return ::rename(from, to);
}
int SystemCalls::Unlink(const char* path) noexcept {
  return ::unlink(path);
}
int SystemCalls::Flock(int fd, int operation) noexcept {
  return ::flock(fd, operation);
}

ScopedSystemCalls::ScopedSystemCalls(SystemCalls& calls) noexcept
    : previous_(Current().exchange(&calls, std::memory_order_acq_rel)) {}

ScopedSystemCalls::~ScopedSystemCalls() {
  Current().store(previous_, std::memory_order_release);
}

namespace sys {

ssize_t Read(int fd, void* buffer, std::size_t size) noexcept {
  return RetryOnEintr([&] { return Calls().Read(fd, buffer, size); });
}
ssize_t Write(int fd, const void* data, std::size_t size) noexcept {
  return RetryOnEintr([&] { return Calls().Write(fd, data, size); });
}
int Poll(pollfd* fds, nfds_t count, int timeoutMs) noexcept {
  return RetryOnEintr([&] { return Calls().Poll(fds, count, timeoutMs); });
}
int Open(const char* path, int flags, mode_t mode) noexcept {
  return RetryOnEintr([&] { return Calls().Open(path, flags, mode); });
}
int Close(int fd) noexcept {
  return Calls().Close(fd);
}
int Tcdrain(int fd) noexcept {
  return RetryOnEintr([&] { return Calls().Tcdrain(fd); });
}
int Fsync(int fd) noexcept {
  return RetryOnEintr([&] { return Calls().Fsync(fd); });
}
int Ioctl(int fd, unsigned long request, void* argument) noexcept {
  return RetryOnEintr([&] { return Calls().Ioctl(fd, request, argument); });
}
int Tcsetattr(int fd, int when, const termios* settings) noexcept {
  return RetryOnEintr([&] { return Calls().Tcsetattr(fd, when, settings); });
}
int Rename(const char* from, const char* to) noexcept {
  return RetryOnEintr([&] { return Calls().Rename(from, to); });
}
int Unlink(const char* path) noexcept {
  return RetryOnEintr([&] { return Calls().Unlink(path); });
}
int Flock(int fd, int operation) noexcept {
  return RetryOnEintr([&] { return Calls().Flock(fd, operation); });
}

}  // namespace sys

bool WriteAll(int fd, const void* data, std::size_t size, int stallMs) noexcept {
  const char* next = static_cast<const char*>(data);
  std::size_t left = size;
  while (left > 0) {
    const ssize_t written = sys::Write(fd, next, left);
    if (written > 0) {
      next += written;
      left -= static_cast<std::size_t>(written);
      continue;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd writable{fd, POLLOUT, 0};
    const int ready = sys::Poll(&writable, 1, stallMs);
    if (ready < 0) return false;
    if (ready == 0) {
      errno = ETIMEDOUT;
      return false;
    }
    if ((writable.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      errno = EIO;
      return false;
    }
  }
  return true;
}

}  // namespace pagorin::platform
