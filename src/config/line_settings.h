// The serial line the configuration chooses: the baud-rate index (Baund) and the data-bit flag
// (DataBit) stand for these values. The settings dialog lists them, the plug-in opens the port
// with them.
#pragma once

#include <array>
#include <cstddef>

namespace pagorin {

// The baud rates in index order; index 2 (9600) is the default.
inline constexpr std::array<int, 6> kBaudRates{2400, 4800, 9600, 14400, 19200, 115200};
inline constexpr int kDefaultBaudIndex = 2;

// The baud rate for a baud-rate index; the default's rate for an index outside the table.
constexpr int BaudRateForIndex(int baudIndex) noexcept {
  if (baudIndex < 0 || static_cast<std::size_t>(baudIndex) >= kBaudRates.size()) {
    return kBaudRates[kDefaultBaudIndex];
  }
  return kBaudRates[static_cast<std::size_t>(baudIndex)];
}

// The data bits for the data-bit flag: 7 for 0, else 8.
constexpr int ByteSizeForDataBit(int dataBit) noexcept {
  return dataBit != 0 ? 8 : 7;
}

}  // namespace pagorin
