// The modem's line over the serial port: COMn with the configured speed and data bits, no parity
// and one stop bit.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "modem/modem_link.h"
#include "modem/serial_port.h"

namespace pagorin {

class SerialLink final : public ModemLink {
 public:
  SerialLink(int portNumber, int baudRate, int byteSize) noexcept
      : portNumber_(portNumber), baudRate_(baudRate), byteSize_(byteSize) {}

  // `listener` is called on the port's reader thread when bytes arrive or the device hangs up;
  // set it before the first Open.
  void SetDataListener(std::function<void()> listener) noexcept {
    port_.SetDataListener(std::move(listener));
  }

  bool Open() noexcept override;
  void Close() noexcept override { port_.Close(); }
  bool IsOpen() const noexcept override { return port_.IsOpen(); }
  bool HungUp() const noexcept override { return port_.HungUp(); }
  bool Write(std::string_view bytes) noexcept override;
  std::size_t Take(std::string& out) noexcept override;
  std::string LastError() const override { return port_.LastError(); }

  const SerialPort& port() const noexcept { return port_; }

 private:
  int portNumber_;
  int baudRate_;
  int byteSize_;
  SerialPort port_;
};

}  // namespace pagorin
