// The system's own words for an error number, for messages that say why a call failed.
#pragma once

#include <string>

namespace pagorin::platform {

// The system's message for `errorNumber`: a C library number (errno), or one that
// SystemErrorNumber made from a code of the operating system's own. Throws only std::bad_alloc.
std::string ErrorText(int errorNumber);

// An error number for the code with which the operating system reported a failed call. On
// Windows that is a code from GetLastError, kept apart from the C library's numbers as a
// negative number, and ErrorText gives the system's message for it (in code page 936, like every
// text of the module); elsewhere the system's code is errno and comes back as it is. A code of
// zero after a failure still counts as a failure.
int SystemErrorNumber(unsigned long code) noexcept;

// Puts the message for `errorNumber` into `text`; empties it when there is no memory for it.
void AssignErrorText(std::string& text, int errorNumber) noexcept;

}  // namespace pagorin::platform
