#include "modem/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_io.h"

namespace pagorin {

SerialPort::SerialPort() noexcept = default;

SerialPort::~SerialPort() {
  Close();
}

int SerialPort::Open(int portNumber, int baudRate, int byteSize, int parity,
                     int stopBits) noexcept {
  if (portNumber < kMinPortNumber || portNumber > kMaxPortNumber) {
    NoteError(ENODEV);
    return 0;
  }
  if (running_.load()) {
    NoteError(EBUSY);
    return 0;
  }
  portNumber_ = portNumber;
  hungUp_.store(false);
  running_.store(true);
  if (!OpenDevice(baudRate, byteSize, parity, stopBits)) {
    running_.store(false);
    return 0;
  }
  return 1;
}

void SerialPort::Close() noexcept {
  if (!running_.load()) return;
  running_.store(false);
  CloseDevice();
}

int SerialPort::Write(const char* data, std::size_t length) noexcept {
  if (!running_.load() || device_ == nullptr) {
    NoteError(EBADF);
    return 0;
  }
  return WriteDevice(data, length) ? 1 : 0;
}

std::string SerialPort::LastError() const {
  const int errorNumber = lastErrno_.load();
  return errorNumber != 0 ? platform::ErrorText(errorNumber) : std::string();
}

void SerialPort::SetDataListener(std::function<void()> listener) noexcept {
  if (!running_.load()) listener_ = std::move(listener);
}

void SerialPort::Notify() noexcept {
  if (listener_) listener_();
}

int SerialPort::TakeReceived(char* destination, int maxBytes) noexcept {
  std::lock_guard lock(bufferMutex_);
  rxNewData_ = false;
  const int count = std::clamp(rxLength_, 0, std::max(maxBytes, 0));
  if (count <= 0) return 0;
  std::memcpy(destination, rxBuffer_, static_cast<std::size_t>(count));
  std::memmove(rxBuffer_, rxBuffer_ + count, static_cast<std::size_t>(rxLength_ - count));
  rxLength_ -= count;
  return count;
}

int SerialPort::PeekReceived(char* destination, int maxBytes) noexcept {
  std::lock_guard lock(bufferMutex_);
  rxNewData_ = false;
  const int count = std::clamp(rxLength_, 0, std::max(maxBytes, 0));
  if (count > 0) std::memcpy(destination, rxBuffer_, static_cast<std::size_t>(count));
  return count;
}

int SerialPort::TakeNewDataFlag() noexcept {
  std::lock_guard lock(bufferMutex_);
  const bool flag = rxNewData_;
  rxNewData_ = false;
  return flag ? 1 : 0;
}

void SerialPort::ClearReceived() noexcept {
  std::lock_guard lock(bufferMutex_);
  rxLength_ = 0;
}

int SerialPort::ReceivedLength() const noexcept {
  std::lock_guard lock(bufferMutex_);
  return rxLength_;
}

void SerialPort::AppendReceived(const char* source, int count) noexcept {
  if (count <= 0) return;
  std::lock_guard lock(bufferMutex_);
  // Bytes that do not fit are dropped, but their arrival still counts as new data.
  rxNewData_ = true;
  const int room = kMaxReceived - rxLength_;
  const int taken = std::min(count, room);
  if (taken <= 0) return;
  std::memcpy(rxBuffer_ + rxLength_, source, static_cast<std::size_t>(taken));
  rxLength_ += taken;
}

}  // namespace pagorin
