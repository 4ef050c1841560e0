#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"
#include "platform/syscall.h"

namespace pagorin::platform {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const noexcept { return fd_; }
  // Closes now and reports the result, which for a written file can carry a late write error.
  int Close() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? ::close(fd) : 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) noexcept {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = RetryOnEintr([&] { return ::write(fd, data, left); });
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) noexcept {
  FileDescriptor file(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (file.get() < 0) {
    AssignErrorText(error, errno);
    return false;
  }
  try {
    std::string bytes;
    struct stat info {};
    if (::fstat(file.get(), &info) == 0 && info.st_size > 0) {
      bytes.reserve(static_cast<std::size_t>(info.st_size));
    }
    char chunk[65536];
    for (;;) {
      ssize_t n = RetryOnEintr([&] { return ::read(file.get(), chunk, sizeof chunk); });
      if (n < 0) {
        AssignErrorText(error, errno);
        return false;
      }
      if (n == 0) break;
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
    contents.swap(bytes);
  } catch (...) {
    AssignErrorText(error, ENOMEM);
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error) noexcept {
  try {
    std::string temporary = path + ".XXXXXX";
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
      AssignErrorText(error, errno);
      return false;
    }
    auto fail = [&](int errorNumber) {
      file.Close();
      ::unlink(temporary.c_str());
      AssignErrorText(error, errorNumber);
      return false;
    };
    // mkstemp creates the file private to its owner; give it the target's permissions, or those
    // that a plain create would give.
    struct stat old {};
    mode_t mode;
    if (::stat(path.c_str(), &old) == 0) {
      mode = old.st_mode & 07777;
    } else {
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    if (::fchmod(file.get(), mode) != 0) return fail(errno);
    if (!WriteAll(file.get(), contents)) return fail(errno);
    if (RetryOnEintr([&] { return ::fsync(file.get()); }) != 0) return fail(errno);
    if (file.Close() != 0) return fail(errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
    // Make the rename itself durable; a folder that cannot be synced is no reason to fail.
    FileDescriptor folder(
        RetryOnEintr([&] { return ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY); }));
    if (folder.get() >= 0) ::fsync(folder.get());
  } catch (...) {
    AssignErrorText(error, ENOMEM);
    return false;
  }
  return true;
}

}  // namespace pagorin::platform
