// The system's own words for an error number, for messages that say why a call failed.
#pragma once

#include <string>

namespace pagorin::platform {

// The C library's message for `errorNumber`. Throws only std::bad_alloc.
std::string ErrorText(int errorNumber);

// Puts the message for `errorNumber` into `text`; empties it when there is no memory for it.
void AssignErrorText(std::string& text, int errorNumber) noexcept;

}  // namespace pagorin::platform
