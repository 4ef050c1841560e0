// The one seam for the system calls of the POSIX backends. Code calls the functions of
// namespace `sys`, which go through the process's current SystemCalls and retry a call that a
// signal interrupted (EINTR), so a signal never turns into a spurious failure. A test puts its
// own SystemCalls in place to make a call fail, come back short or report EAGAIN.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cerrno>
#include <cstddef>

namespace pagorin::platform {

// The system itself. Each operation is the system call of the same name; a stand-in overrides
// what it wants to change and calls these for the rest.
class SystemCalls {
 public:
  virtual ~SystemCalls() = default;
  virtual ssize_t Read(int fd, void* buffer, std::size_t size) noexcept;
  virtual ssize_t Write(int fd, const void* data, std::size_t size) noexcept;
  virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) noexcept;
  virtual int Open(const char* path, int flags, mode_t mode) noexcept;
  virtual int Close(int fd) noexcept;
  virtual int Tcdrain(int fd) noexcept;
  virtual int Fsync(int fd) noexcept;
  virtual int Ioctl(int fd, unsigned long request, void* argument) noexcept;
  virtual int Tcsetattr(int fd, int when, const termios* settings) noexcept;
  virtual int Rename(const char* from, const char* to) noexcept;
  virtual int Unlink(const char* path) noexcept;
  virtual int Flock(int fd, int operation) noexcept;
};

// While it lives, `calls` stands in for the system in every thread. Install it before the code
// under test starts threads of its own; one at a time.
class ScopedSystemCalls {
 public:
  explicit ScopedSystemCalls(SystemCalls& calls) noexcept;
  ~ScopedSystemCalls();
  ScopedSystemCalls(const ScopedSystemCalls&) = delete;
  ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;

 private:
  SystemCalls* previous_;
};

namespace sys {

// Results and errno as of the system call; interrupted calls are retried, except close(), which
// releases the descriptor even when interrupted.
ssize_t Read(int fd, void* buffer, std::size_t size) noexcept;
ssize_t Write(int fd, const void* data, std::size_t size) noexcept;
int Poll(pollfd* fds, nfds_t count, int timeoutMs) noexcept;
int Open(const char* path, int flags, mode_t mode = 0) noexcept;
int Close(int fd) noexcept;
int Tcdrain(int fd) noexcept;
int Fsync(int fd) noexcept;
int Ioctl(int fd, unsigned long request, void* argument = nullptr) noexcept;
int Tcsetattr(int fd, int when, const termios* settings) noexcept;
int Rename(const char* from, const char* to) noexcept;
int Unlink(const char* path) noexcept;
int Flock(int fd, int operation) noexcept;

}  // namespace sys

// Writes all `size` bytes, going on after a short write. A descriptor that is not ready
// (EAGAIN) is waited for up to `stallMs` milliseconds each time. False when a write fails (errno
// as the call left it), writes nothing (EIO) or the descriptor stays unwritable (ETIMEDOUT,
// or EIO when it reports an error or hang-up).
bool WriteAll(int fd, const void* data, std::size_t size, int stallMs) noexcept;

// Retries `call` while it fails with EINTR; for the calls that have no place in the seam.
template <typename Call>
auto RetryOnEintr(Call call) noexcept -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace pagorin::platform
