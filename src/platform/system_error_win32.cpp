// Error texts on Windows: the C library's message for an errno value, and the system's own
// message (FormatMessageW, in the user's language) for a code from GetLastError, which the module
// keeps as a negative error number.
#include <string.h>
#include <windows.h>

#include <climits>
#include <string>

#include "platform/system_error.h"

namespace pagorin::platform {
namespace {

constexpr UINT kCodePage936 = 936;

// The system's message for `code` in code page 936, without the line break it ends with; a code
// the system has no message for is named by its number.
std::string SystemMessage(DWORD code) {
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text;
  if (length > 0 && message != nullptr) {
    DWORD end = length;
    while (end > 0 && (message[end - 1] == L'\r' || message[end - 1] == L'\n' ||
                       message[end - 1] == L' ' || message[end - 1] == L'.')) {
      --end;
    }
    const int size = end > 0 ? WideCharToMultiByte(kCodePage936, 0, message, static_cast<int>(end),
                                                   nullptr, 0, "?", nullptr)
                             : 0;
    if (size > 0) {
      try {
        text.resize(static_cast<std::size_t>(size));
      } catch (...) {
        LocalFree(message);
        throw;
      }
      WideCharToMultiByte(kCodePage936, 0, message, static_cast<int>(end), text.data(), size, "?",
                          nullptr);
    }
  }
  if (message != nullptr) LocalFree(message);
  if (text.empty()) text = "System error " + std::to_string(code);
  return text;
}

}  // namespace

std::string ErrorText(int errorNumber) {
  if (errorNumber < 0)
    return SystemMessage(static_cast<DWORD>(-static_cast<long long>(errorNumber)));
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, errorNumber) != 0) return "Unknown error";
  return buffer;
}

int SystemErrorNumber(unsigned long code) noexcept {
  // Codes of the Win32 kind are far below INT_MAX; anything else is a general failure.
  if (code == 0 || code > static_cast<unsigned long>(INT_MAX)) code = ERROR_GEN_FAILURE;
  return -static_cast<int>(code);
}

void AssignErrorText(std::string& text, int errorNumber) noexcept {
  try {
    text = ErrorText(errorNumber);
  } catch (...) {
    text.clear();
  }
}

}  // namespace pagorin::platform
