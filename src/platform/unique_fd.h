// An owned file descriptor of the POSIX backends.
#pragma once

#include <utility>

namespace pagorin::platform {

namespace sys {
// close() of the platform's descriptors (platform/syscall.h on POSIX, the C runtime's on
// Windows).
int Close(int fd) noexcept;
}  // namespace sys

// Owns one descriptor (or none, -1) and closes it when it goes. Move-only.
class UniqueFd {
 public:
  UniqueFd() noexcept = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() noexcept { return std::exchange(fd_, -1); }
  // Closes the descriptor held, ignoring the result, and takes `fd`.
  void Reset(int fd = -1) noexcept {
    if (fd_ >= 0) sys::Close(fd_);
    fd_ = fd;
  }
  // Closes now and returns close()'s result, which for a written file can carry a late write
  // error. 0 when nothing was held.
  int Close() noexcept {
    const int fd = Release();
    return fd >= 0 ? sys::Close(fd) : 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace pagorin::platform
