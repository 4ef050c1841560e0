#include <string.h>

#include "platform/system_error.h"

namespace pagorin::platform {

std::string ErrorText(int errorNumber) {
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, errorNumber) != 0) return "Unknown error";
  return buffer;
}

void AssignErrorText(std::string& text, int errorNumber) noexcept {
  try {
    text = ErrorText(errorNumber);
  } catch (...) {
    text.clear();
  }
}

}  // namespace pagorin::platform
