// AppendFile on Windows through the C runtime's descriptors, opened with the wide path, so the
// same descriptor-based object serves both platforms. _commit is the runtime's FlushFileBuffers.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/append_file.h"
#include "platform/file_io.h"
#include "platform/wide_path_win32.h"

namespace pagorin::platform {

int sys::Close(int fd) noexcept {
  return ::_close(fd);
}

namespace {

void SetError(std::string& error, int errorNumber) noexcept {
  AssignErrorText(error, errorNumber);
}

}  // namespace

AppendFile::~AppendFile() {
  Close();
}

bool AppendFile::Open(const std::string& path, std::string& error) noexcept {
  Close();
  try {
    fd_.Reset(::_wopen(detail::WidePath(path).c_str(),
                       _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE));
  } catch (...) {
    SetError(error, ENOMEM);
    return false;
  }
  if (!fd_.valid()) {
    SetError(error, errno);
    return false;
  }
  return true;
}

bool AppendFile::Append(std::string_view bytes, std::string& error) noexcept {
  if (!fd_.valid()) {
    SetError(error, EBADF);
    return false;
  }
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(left, 1u << 20));
    const int n = ::_write(fd_.get(), data, chunk);
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
  if (!fd_.valid()) {
    SetError(error, EBADF);
    return false;
  }
  if (::_commit(fd_.get()) != 0) {
    SetError(error, errno);
    return false;
  }
  return true;
}

void AppendFile::Close() noexcept {
  fd_.Reset();
}

std::uint64_t AppendFile::Size() const noexcept {
  struct _stat64 info {};
  if (!fd_.valid() || ::_fstat64(fd_.get(), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

bool RenameFile(const std::string& from, const std::string& to) noexcept {
  try {
    return MoveFileExW(detail::WidePath(from).c_str(), detail::WidePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  } catch (...) {
    return false;
  }
}

bool RemoveFile(const std::string& path) noexcept {
  try {
    if (DeleteFileW(detail::WidePath(path).c_str())) return true;
  } catch (...) {
    return false;
  }
  const DWORD code = GetLastError();
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

}  // namespace pagorin::platform
