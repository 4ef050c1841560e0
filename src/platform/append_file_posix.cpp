#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/append_file.h"
#include "platform/syscall.h"
#include "platform/system_error.h"

namespace pagorin::platform {
namespace {

// The files are regular files, always ready; the wait only bounds a device given as a path.
constexpr int kWriteStallMs = 5000;

}  // namespace

AppendFile::~AppendFile() {
  Close();
}

bool AppendFile::Open(const std::string& path, std::string& error) noexcept {
  Close();
  fd_.Reset(sys::Open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (!fd_.valid()) {
    AssignErrorText(error, errno);
    return false;
  }
  return true;
}

// flock() locks belong to the open file description, so a second open of the file in this
// process conflicts as another process's does, and the lock goes with the last descriptor.
bool AppendFile::OpenExclusive(const std::string& path, std::string& error,
                               bool& heldByOther) noexcept {
  heldByOther = false;
  if (!Open(path, error)) return false;
  if (sys::Flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    const int cause = errno;
    heldByOther = cause == EWOULDBLOCK || cause == EAGAIN;
    fd_.Reset();
    AssignErrorText(error, cause);
    return false;
  }
  return true;
}

bool AppendFile::Append(std::string_view bytes, std::string& error) noexcept {
  if (!fd_.valid()) {
    AssignErrorText(error, EBADF);
    return false;
  }
  if (!WriteAll(fd_.get(), bytes.data(), bytes.size(), kWriteStallMs)) {
    AssignErrorText(error, errno);
    return false;
  }
  return true;
}

bool AppendFile::Sync(std::string& error) noexcept {
  if (!fd_.valid()) {
    AssignErrorText(error, EBADF);
    return false;
  }
  if (sys::Fsync(fd_.get()) != 0) {
    AssignErrorText(error, errno);
    return false;
  }
  return true;
}

void AppendFile::Close() noexcept {
  fd_.Reset();
}

std::uint64_t AppendFile::Size() const noexcept {
  struct stat info {};
  if (!fd_.valid() || ::fstat(fd_.get(), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

bool AppendFile::IsAt(const std::string& path) const noexcept {
  struct stat held {};
  if (!fd_.valid() || ::fstat(fd_.get(), &held) != 0) return false;
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) return errno != ENOENT && errno != ENOTDIR;
  return named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

bool RenameFile(const std::string& from, const std::string& to) noexcept {
  return sys::Rename(from.c_str(), to.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to, std::string& error) noexcept {
  if (sys::Rename(from.c_str(), to.c_str()) == 0) return true;
  AssignErrorText(error, errno);
  return false;
}

bool RemoveFile(const std::string& path) noexcept {
  return sys::Unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool RemoveFile(const std::string& path, std::string& error) noexcept {
  if (RemoveFile(path)) return true;
  AssignErrorText(error, errno);
  return false;
}

bool PathExists(const std::string& path) noexcept {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

}  // namespace pagorin::platform
