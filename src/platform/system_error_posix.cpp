#include <errno.h>
#include <string.h>

#include "platform/system_error.h"

namespace pagorin::platform {

std::string ErrorText(int errorNumber) {
  char buffer[256] = {};
  // The GNU strerror_r returns a pointer that may or may not be `buffer`.
  const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("Unknown error");
}

int SystemErrorNumber(unsigned long code) noexcept {
  // The system's codes are errno values here.
  const int errorNumber = static_cast<int>(code);
  return errorNumber > 0 ? errorNumber : EIO;
}

void AssignErrorText(std::string& text, int errorNumber) noexcept {
  try {
    text = ErrorText(errorNumber);
  } catch (...) {
    text.clear();
  }
}

}  // namespace pagorin::platform
