// printf-style formatting of string-table templates, with the arguments typed by the caller. The
// template is data (it may come from the string table or a file), so it is never handed to the C
// library's printf family: an unknown or unmatched conversion is copied as it stands.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace pagorin::platform {

using FormatArg = std::variant<std::string_view, std::int64_t, double>;

// Supports %s, %d, %u, %x, %X, %f and %% with the flags '-', '0', a width and a precision
// ("%03d", "%02X", "%.2f"). %s takes a text, %d/%u/%x/%X an integer, %f a double; a conversion
// whose argument is missing or of another kind is copied literally. The result has no length
// limit. Throws only std::bad_alloc.
std::string FormatText(std::string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace pagorin::platform
