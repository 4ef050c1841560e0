#include <fcntl.h>
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

bool RenameFile(const std::string& from, const std::string& to) noexcept {
  return sys::Rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) noexcept {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace pagorin::platform
