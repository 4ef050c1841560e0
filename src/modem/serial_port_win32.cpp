// Windows device backend of SerialPort: \\.\COMn opened exclusively for overlapped I/O, and a
// reader thread that waits on its pending read and on a stop event together, so that it sleeps
// while the line is quiet and Close never has to kill a thread.
//
// The reader does not wait for communication events: some serial drivers (and Wine on a
// pseudo-terminal) report none. Instead the read time-outs say "return as soon as any byte has
// arrived", so one pending read is both the wait and the transfer.
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>

#include "modem/serial_port.h"

namespace pagorin {
namespace {

// The reader moves data in chunks of this size.
constexpr DWORD kReadChunk = 80;
// A write that makes no progress for this long has failed (the peer stopped reading).
constexpr DWORD kWriteStallMs = 5000;
// A pending read ends after this long without a byte and is simply issued again.
constexpr DWORD kReadIdleMs = 60 * 60 * 1000;

class Handle {
 public:
  Handle() noexcept = default;
  explicit Handle(HANDLE handle) noexcept : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = nullptr) noexcept {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

std::wstring DevicePath(int portNumber) {
  // The \\.\ form reaches every port number; the bare name works only up to COM9.
  return L"\\\\.\\COM" + std::to_wstring(portNumber);
}

// Milliseconds the line needs for one byte (start, data, parity and stop bits), rounded up.
DWORD MillisecondsPerByte(int baudRate) noexcept {
  return static_cast<DWORD>(12000 / std::max(baudRate, 1) + 1);
}

bool ApplyLineSettings(HANDLE device, int baudRate, int byteSize, int parity,
                       int stopBits) noexcept {
  if (baudRate <= 0 || byteSize < 5 || byteSize > 8 || parity < NOPARITY ||
      parity > SPACEPARITY || stopBits < ONESTOPBIT || stopBits > TWOSTOPBITS) {
    return false;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  (void)GetCommState(device, &dcb);
  dcb.BaudRate = static_cast<DWORD>(baudRate);
  dcb.ByteSize = static_cast<BYTE>(byteSize);
  dcb.Parity = static_cast<BYTE>(parity);
  dcb.StopBits = static_cast<BYTE>(stopBits);
  dcb.fBinary = TRUE;
  dcb.fParity = parity != NOPARITY ? TRUE : FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  return SetCommState(device, &dcb) != 0;
}

bool ApplyTimeouts(HANDLE device, int baudRate) noexcept {
  COMMTIMEOUTS timeouts{};
  // A read returns as soon as at least one byte is there, or after kReadIdleMs with none.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = kReadIdleMs;
  // A write may take as long as the line needs for its bytes, plus the stall limit.
  timeouts.WriteTotalTimeoutMultiplier = MillisecondsPerByte(baudRate);
  timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
  return SetCommTimeouts(device, &timeouts) != 0;
}

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

}  // namespace

struct SerialPort::Device {
  Handle port;
  Handle stop;        // set by CloseDevice: the reader ends
  Handle readEvent;   // completion of the reader's pending read
  Handle writeEvent;  // completion of a write
  DWORD msPerByte = 1;
  std::thread reader;
};

void SerialPort::DeviceDeleter::operator()(Device* device) const noexcept {
  delete device;
}

bool SerialPort::OpenDevice(int baudRate, int byteSize, int parity, int stopBits) noexcept {
  try {
    std::unique_ptr<Device, DeviceDeleter> device(new Device);
    device->port.Reset(CreateFileW(DevicePath(portNumber_).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!device->port.valid()) return false;
    const HANDLE port = device->port.get();
    (void)SetupComm(port, 4096, 1024);
    if (!ApplyLineSettings(port, baudRate, byteSize, parity, stopBits)) return false;
    if (!ApplyTimeouts(port, baudRate)) return false;
    (void)PurgeComm(port, kPurgeAll);
    device->msPerByte = MillisecondsPerByte(baudRate);
    device->stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    device->readEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    device->writeEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!device->stop.valid() || !device->readEvent.valid() || !device->writeEvent.valid()) {
      return false;
    }
    device_ = std::move(device);
    try {
      device_->reader = std::thread([this] { ReadLoop(); });
    } catch (...) {
      device_.reset();
      return false;
    }
    (void)EscapeCommFunction(port, SETDTR);
    (void)EscapeCommFunction(port, SETRTS);
    return true;
  } catch (...) {
    return false;
  }
}

void SerialPort::CloseDevice() noexcept {
  if (device_ == nullptr) return;
  (void)SetEvent(device_->stop.get());
  if (device_->reader.joinable()) device_->reader.join();
  const HANDLE port = device_->port.get();
  (void)EscapeCommFunction(port, CLRDTR);
  (void)PurgeComm(port, kPurgeAll);
  device_.reset();
}

bool SerialPort::WriteDevice(const char* data, std::size_t length) noexcept {
  const HANDLE port = device_->port.get();
  std::size_t done = 0;
  while (done < length) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 16));
    OVERLAPPED overlapped{};
    overlapped.hEvent = device_->writeEvent.get();
    (void)ResetEvent(overlapped.hEvent);
    DWORD written = 0;
    if (!WriteFile(port, data + done, chunk, &written, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) {
        (void)ClearCommError(port, nullptr, nullptr);
        return false;
      }
      // The driver's write time-out ends a stalled write; this wait is the guard for a driver
      // that keeps none.
      const DWORD budget = kWriteStallMs + device_->msPerByte * chunk;
      if (WaitForSingleObject(overlapped.hEvent, budget) != WAIT_OBJECT_0) {
        (void)CancelIoEx(port, &overlapped);
      }
      if (!GetOverlappedResult(port, &overlapped, &written, TRUE)) {
        (void)ClearCommError(port, nullptr, nullptr);
        return false;
      }
    }
    // A write that ended without taking anything is the driver's time-out: no progress.
    if (written == 0) return false;
    done += written;
  }
  return true;
}

void SerialPort::ReadLoop() noexcept {
  const HANDLE port = device_->port.get();
  const HANDLE waits[2] = {device_->readEvent.get(), device_->stop.get()};
  char chunk[kReadChunk];
  while (running_.load()) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = waits[0];
    (void)ResetEvent(overlapped.hEvent);
    DWORD count = 0;
    const DWORD started = GetTickCount();
    if (!ReadFile(port, chunk, kReadChunk, &count, &overlapped)) {
      // Anything but "pending" means the device is gone (a USB adapter pulled out) or broken:
      // the reader ends, and the owner's next write fails.
      if (GetLastError() != ERROR_IO_PENDING) return;
      const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
      if (woken != WAIT_OBJECT_0) {
        (void)CancelIoEx(port, &overlapped);
        (void)GetOverlappedResult(port, &overlapped, &count, TRUE);
        if (count > 0) AppendReceived(chunk, static_cast<int>(count));
        return;
      }
      if (!GetOverlappedResult(port, &overlapped, &count, FALSE)) return;
    }
    if (count > 0) {
      AppendReceived(chunk, static_cast<int>(count));
      continue;
    }
    // An empty read is the idle time-out. One that came back early would come back early
    // again: the device is not delivering reads as promised, so the reader stops rather than
    // spin (and waits for Close).
    if (GetTickCount() - started < kReadIdleMs / 2) {
      (void)WaitForSingleObject(waits[1], INFINITE);
      return;
    }
  }
}

}  // namespace pagorin
