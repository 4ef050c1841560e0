// Whole-file reads and safe replacement on Windows. Paths arrive as code page 936 bytes, as the
// host hands them over, and are converted once to UTF-16 for the wide-character file functions,
// so a folder with Chinese characters in its name works whatever the system's ANSI code page.
#include <windows.h>
// <windows.h> names a system function ReplaceFile too (a macro for ReplaceFileW).
#undef ReplaceFile

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/code_page.h"
#include "platform/file_io.h"
#include "platform/wide_path_win32.h"

namespace pagorin::platform {

std::wstring detail::WidePath(const std::string& path) {
  const std::u16string units = Cp936ToUtf16(path);
  return std::wstring(units.begin(), units.end());
}

namespace {

using detail::WidePath;

class Handle {
 public:
  explicit Handle(HANDLE handle) noexcept : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() noexcept {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE || CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// The C library's number for a system error code, so that a failure reads the same on every
// platform.
int ErrnoOf(DWORD code) noexcept {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
      return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return EIO;
  }
}

void SetError(std::string& error, DWORD code) noexcept {
  try {
    error = ErrorText(ErrnoOf(code));
  } catch (...) {
    error.clear();
  }
}

bool WriteAll(HANDLE file, std::string_view bytes) noexcept {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

// Characters in one component of a path (NTFS, FAT32 long names).
constexpr std::size_t kMaxNameLength = 255;

// A name beside `path` that no other writer in this process or another uses at the same time.
std::wstring TemporaryName(const std::wstring& path) {
  static std::atomic<unsigned> counter{0};
  return path + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
         std::to_wstring(counter.fetch_add(1)) + L".tmp";
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) noexcept {
  try {
    Handle file(CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      SetError(error, GetLastError());
      return false;
    }
    std::string bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
      bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char chunk[65536];
    for (;;) {
      DWORD n = 0;
      if (!ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr)) {
        SetError(error, GetLastError());
        return false;
      }
      if (n == 0) break;
      bytes.append(chunk, n);
    }
    contents.swap(bytes);
  } catch (...) {
    SetError(error, ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error) noexcept {
  try {
    const std::wstring target = WidePath(path);
    const std::wstring temporary = TemporaryName(target);
    // A name longer than the file system allows is named as such, rather than as whatever the
    // system's path parser makes of it.
    const std::size_t nameStart = temporary.find_last_of(L"\\/");
    const std::size_t nameLength =
        temporary.size() - (nameStart == std::wstring::npos ? 0 : nameStart + 1);
    if (nameLength > kMaxNameLength) {
      error = ErrorText(ENAMETOOLONG);
      return false;
    }
    Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      SetError(error, GetLastError());
      return false;
    }
    auto fail = [&](DWORD code) {
      file.Close();
      DeleteFileW(temporary.c_str());
      SetError(error, code);
      return false;
    };
    if (!WriteAll(file.get(), contents)) return fail(GetLastError());
    if (!FlushFileBuffers(file.get())) return fail(GetLastError());
    if (!file.Close()) return fail(GetLastError());
    // The rename replaces the old file in one step and is on the disk when the call returns.
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return fail(GetLastError());
    }
  } catch (...) {
    SetError(error, ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return true;
}

}  // namespace pagorin::platform
