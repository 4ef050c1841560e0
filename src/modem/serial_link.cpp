#include "modem/serial_link.h"

namespace pagorin {

bool SerialLink::Open() noexcept {
  if (port_.Open(portNumber_, baudRate_, byteSize_, 0, 0) != 1) return false;
  // Whatever the buffer kept from an earlier session is not an answer to this one.
  port_.ClearReceived();
  return true;
}

bool SerialLink::Write(std::string_view bytes) noexcept {
  if (port_.HungUp()) return false;
  return port_.Write(bytes.data(), bytes.size()) == 1;
}

std::size_t SerialLink::Take(std::string& out) noexcept {
  char chunk[SerialPort::kBufferSize];
  std::size_t total = 0;
  try {
    // Bytes keep arriving at the line's pace; a few rounds take everything there is now.
    for (int round = 0; round < 4; ++round) {
      const int count = port_.TakeReceived(chunk, SerialPort::kBufferSize);
      if (count <= 0) break;
      out.append(chunk, static_cast<std::size_t>(count));
      total += static_cast<std::size_t>(count);
    }
  } catch (...) {
    // Out of memory: the bytes taken are lost; the dialogue's time-out decides.
  }
  return total;
}

}  // namespace pagorin
