#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/syscall.h"
#include "platform/unique_fd.h"

namespace pagorin::platform {
namespace {

// A regular file is always ready; the wait only bounds a file that turns out to be a device.
constexpr int kWriteStallMs = 5000;

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) noexcept {
  UniqueFd file(sys::Open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
      const ssize_t n = sys::Read(file.get(), chunk, sizeof chunk);
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
    UniqueFd file(RetryOnEintr([&] { return ::mkostemp(temporary.data(), O_CLOEXEC); }));
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
    if (!WriteAll(file.get(), contents.data(), contents.size(), kWriteStallMs)) return fail(errno);
    if (sys::Fsync(file.get()) != 0) return fail(errno);
    if (file.Close() != 0) return fail(errno);
    if (sys::Rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
  } catch (...) {
    AssignErrorText(error, ENOMEM);
    return false;
  }
  // The file is replaced. Make the rename itself durable; a folder that cannot be synced, or no
  // memory for its name, is no reason to report the replacement as failed.
  try {
    UniqueFd folder(sys::Open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) (void)sys::Fsync(folder.get());
  } catch (...) {
  }
  return true;
}

}  // namespace pagorin::platform
