#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/append_file.h"
#include "platform/file_io.h"
#include "platform/syscall.h"

namespace pagorin::platform {
namespace {

void SetError(std::string& error, int errorNumber) noexcept {
  try {
    error = ErrorText(errorNumber);
  } catch (...) {
    error.clear();
  }
}

}  // namespace

AppendFile::~AppendFile() {
  Close();
}

bool AppendFile::Open(const std::string& path, std::string& error) noexcept {
  Close();
  fd_ = RetryOnEintr(
      [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666); });
  if (fd_ < 0) {
    SetError(error, errno);
    return false;
  }
  return true;
}

bool AppendFile::Append(std::string_view bytes, std::string& error) noexcept {
  if (fd_ < 0) {
    SetError(error, EBADF);
    return false;
  }
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = RetryOnEintr([&] { return ::write(fd_, data, left); });
    if (n <= 0) {
      SetError(error, n < 0 ? errno : EIO);
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AppendFile::Sync(std::string& error) noexcept {
  if (fd_ < 0) {
    SetError(error, EBADF);
    return false;
  }
  if (RetryOnEintr([&] { return ::fsync(fd_); }) != 0) {
    SetError(error, errno);
    return false;
  }
  return true;
}

void AppendFile::Close() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::uint64_t AppendFile::Size() const noexcept {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

bool RenameFile(const std::string& from, const std::string& to) noexcept {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) noexcept {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace pagorin::platform
