// AppendFile on Windows through the C runtime's descriptors, opened with the wide path, so the
// same descriptor-based object serves both platforms. _commit is the runtime's FlushFileBuffers.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

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

void SetSystemError(std::string& error, DWORD code) noexcept {
  AssignErrorText(error, SystemErrorNumber(code));
}

// The volume and the file index name one file for as long as it exists.
bool IdentityOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) noexcept {
  return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) != 0;
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

// Held through the share mode: the handle lets others read and nothing else, so a second open
// for writing, in this process or another, fails with a sharing violation until it is closed.
bool AppendFile::OpenExclusive(const std::string& path, std::string& error,
                               bool& heldByOther) noexcept {
  Close();
  heldByOther = false;
  HANDLE handle = INVALID_HANDLE_VALUE;
  try {
    handle = CreateFileW(detail::WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  } catch (...) {
    SetError(error, ENOMEM);
    return false;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    heldByOther = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
    SetSystemError(error, code);
    return false;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND);
  if (fd < 0) {
    const int cause = errno;
    CloseHandle(handle);
    SetError(error, cause);
    return false;
  }
  fd_.Reset(fd);
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

bool AppendFile::IsAt(const std::string& path) const noexcept {
  BY_HANDLE_FILE_INFORMATION held{};
  if (!fd_.valid() || !IdentityOf(reinterpret_cast<HANDLE>(::_get_osfhandle(fd_.get())), held)) {
    return false;
  }
  HANDLE named = INVALID_HANDLE_VALUE;
  try {
    // No access asked for, so no holder's share mode stands in the way.
    named = CreateFileW(detail::WidePath(path).c_str(), 0,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  } catch (...) {
    return true;
  }
  if (named == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = IdentityOf(named, info);
  CloseHandle(named);
  if (!known) return true;
  return info.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
         info.nFileIndexHigh == held.nFileIndexHigh && info.nFileIndexLow == held.nFileIndexLow;
}

bool RenameFile(const std::string& from, const std::string& to) noexcept {
  std::string error;
  return RenameFile(from, to, error);
}

bool RenameFile(const std::string& from, const std::string& to, std::string& error) noexcept {
  try {
    if (MoveFileExW(detail::WidePath(from).c_str(), detail::WidePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return true;
    }
  } catch (...) {
    SetError(error, ENOMEM);
    return false;
  }
  SetSystemError(error, GetLastError());
  return false;
}

bool RemoveFile(const std::string& path) noexcept {
  std::string error;
  return RemoveFile(path, error);
}

bool RemoveFile(const std::string& path, std::string& error) noexcept {
  try {
    if (DeleteFileW(detail::WidePath(path).c_str())) return true;
  } catch (...) {
    SetError(error, ENOMEM);
    return false;
  }
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
  SetSystemError(error, code);
  return false;
}

bool PathExists(const std::string& path) noexcept {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  try {
    attributes = GetFileAttributesW(detail::WidePath(path).c_str());
  } catch (...) {
    return true;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD code = GetLastError();
  return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
}

}  // namespace pagorin::platform
