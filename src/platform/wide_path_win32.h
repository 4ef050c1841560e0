// Paths for the wide-character file functions of Windows. The module's paths are code page 936
// bytes, as the host hands them over; they are converted once, here.
#pragma once

#include <string>

namespace pagorin::platform::detail {

// Throws only std::bad_alloc.
std::wstring WidePath(const std::string& path);

}  // namespace pagorin::platform::detail
