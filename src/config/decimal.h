// Decimal numbers as the configuration document stores them: written with "%d", read the way the
// C library's atoi reads them, but with a defined result for every input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pagorin::detail {

// Leading white space (space, \t, \n, \v, \f, \r), an optional sign, then decimal digits up to the
// first non-digit. A text without digits reads as 0; a value beyond the int range reads as
// INT_MAX or INT_MIN, whichever its sign points to. Never reads past the view.
int ParseDecimal(std::string_view text) noexcept;

// The names `prefix` followed by the decimal form of `index`, as the document names its numbered
// elements and attributes ("Tel0", "Var12", "TelPlace3").
std::string NumberedName(std::string_view prefix, int index);

// Every index i >= 0 for which the text holds `prefix` directly followed by i in its "%d" form
// and then a byte that is not a digit (or the end). Sorted, without repeats. A markup name
// "Tel7" can only stand in the text in this form, so an index that is not listed here names no
// element or attribute of the document.
std::vector<int> NumberedNamesIn(std::string_view text, std::string_view prefix);

}  // namespace pagorin::detail
