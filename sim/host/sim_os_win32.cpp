#include "sim_os_win32.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "sim_os.h"

namespace pagorin::sim::os {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

long long ReadFrom(const std::string& path, std::uint64_t offset, std::string& bytes) {
  // Shared for writing and deleting: the writer of a log keeps it open and may rotate it.
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  long long read = 0;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
    char buffer[8192];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
      bytes.append(buffer, n);
      read += n;
    }
  }
  CloseHandle(file);
  return read;
}

std::string MakeTempFolder(const std::string& prefix) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return {};
  // A name of the process's id and a counter; CreateDirectoryW fails on one that exists.
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::wstring folder = std::wstring(temp, length) + Wide(prefix) +
                                std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount() + attempt);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return Utf8(folder);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

std::string ExecutableDir() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return ".";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() > 32768) return ".";
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string(".") : Utf8(path.substr(0, slash));
}

const char* ModuleFileName() noexcept {
  return "pagorin.dll";
}

bool StdinIsTerminal() noexcept {
  return _isatty(_fileno(stdin)) != 0;
}

bool OtherThreadsAtWork() {
  // Time runs at real speed here: nothing runs ahead of the plug-in's threads.
  return false;
}

}  // namespace pagorin::sim::os
