// Windows device backend of SerialPort: \\.\COMn opened exclusively for overlapped I/O, and a
// reader thread that waits on its pending read and on a stop event together, so that it sleeps
// while the line is quiet and Close never has to kill a thread.
//
// The reader does not wait for communication events: some serial drivers (and Wine on a
// pseudo-terminal) report none. Nor does it rely on the read time-outs that promise to return
// as soon as any byte has arrived: not every driver keeps that promise. A pending read of one
// byte is the wait; what else has arrived by then is read at once.
//
// A read that fails, is aborted by anyone but Close, or ends with nothing although it waits for
// a byte means the device is gone (a USB adapter pulled out): the reader marks the port hung up,
// tells the listener and ends. Errors keep the system's own code (GetLastError), so that
// LastError gives the system's message.
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>

#include "modem/serial_port.h"
#include "platform/system_error.h"

namespace pagorin {
namespace {

// The reader moves data in chunks of this size.
constexpr DWORD kReadChunk = 80;
// How often a reader whose buffer is full looks whether the sender has taken from it.
constexpr DWORD kFullBufferWaitMs = 5;
// A write that makes no progress for this long has failed (the peer stopped reading).
constexpr DWORD kWriteStallMs = 5000;

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
  if (baudRate <= 0 || byteSize < 5 || byteSize > 8 || parity < NOPARITY || parity > SPACEPARITY ||
      stopBits < ONESTOPBIT || stopBits > TWOSTOPBITS) {
    SetLastError(ERROR_INVALID_PARAMETER);
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
  // Reads have no time-out: a read waits until its bytes are there (or it is cancelled).
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  // A write may take as long as the line needs for its bytes, plus the stall limit.
  timeouts.WriteTotalTimeoutMultiplier = MillisecondsPerByte(baudRate);
  timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
  return SetCommTimeouts(device, &timeouts) != 0;
}

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

struct ReadResult {
  DWORD count = 0;
  DWORD error = ERROR_SUCCESS;  // the system's code when the read failed
  bool stopped = false;         // the stop event ended the wait
};

// One overlapped read of `size` bytes, waiting for it together with the stop event.
ReadResult ReadOnce(HANDLE port, HANDLE readEvent, HANDLE stop, char* destination,
                    DWORD size) noexcept {
  const HANDLE waits[2] = {readEvent, stop};
  ReadResult result;
  OVERLAPPED overlapped{};
  overlapped.hEvent = waits[0];
  (void)ResetEvent(overlapped.hEvent);
  if (ReadFile(port, destination, size, &result.count, &overlapped)) return result;
  result.error = GetLastError();
  if (result.error != ERROR_IO_PENDING) return result;
  result.error = ERROR_SUCCESS;
  const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (woken != WAIT_OBJECT_0) {
    result.stopped = woken == WAIT_OBJECT_0 + 1;
    (void)CancelIoEx(port, &overlapped);
  }
  // Waits for the cancelled read too: its buffer must not outlive the call.
  if (!GetOverlappedResult(port, &overlapped, &result.count, TRUE)) result.error = GetLastError();
  return result;
}

// The code to report for a read that ended without a byte although none was cancelled: its own
// error, else what the device says, else that it is no longer connected.
DWORD GoneError(HANDLE port, const ReadResult& result) noexcept {
  if (result.error != ERROR_SUCCESS) return result.error;
  DWORD errors = 0;
  if (!ClearCommError(port, &errors, nullptr)) return GetLastError();
  return ERROR_DEVICE_NOT_CONNECTED;
}

}  // namespace

struct SerialPort::Device {
  Handle claim;  // a named object that exists while some port object holds this COM port
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
  // Keeps the system's code of the call that just failed; false for the caller to return.
  auto fail = [this](DWORD code) {
    NoteError(platform::SystemErrorNumber(code));
    return false;
  };
  try {
    std::unique_ptr<Device, DeviceDeleter> device(new Device);
    // The device's own exclusive open is the rule on Windows, but not every driver keeps it (nor
    // Wine): a named object per port keeps a second opener out of this session either way.
    const std::wstring claim = L"Local\\PagorinSerialCOM" + std::to_wstring(portNumber_);
    device->claim.Reset(CreateEventW(nullptr, TRUE, FALSE, claim.c_str()));
    if (!device->claim.valid()) return fail(GetLastError());
    // What Windows itself answers for a port that another program holds.
    if (GetLastError() == ERROR_ALREADY_EXISTS) return fail(ERROR_ACCESS_DENIED);
    device->port.Reset(CreateFileW(DevicePath(portNumber_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!device->port.valid()) return fail(GetLastError());
    const HANDLE port = device->port.get();
    (void)SetupComm(port, 4096, 1024);
    if (!ApplyLineSettings(port, baudRate, byteSize, parity, stopBits)) return fail(GetLastError());
    if (!ApplyTimeouts(port, baudRate)) return fail(GetLastError());
    (void)PurgeComm(port, kPurgeAll);
    device->msPerByte = MillisecondsPerByte(baudRate);
    device->stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    device->readEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    device->writeEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!device->stop.valid() || !device->readEvent.valid() || !device->writeEvent.valid()) {
      return fail(GetLastError());
    }
    device_ = std::move(device);
    try {
      device_->reader = std::thread([this] { ReadLoop(); });
    } catch (...) {
      device_.reset();
      return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    (void)EscapeCommFunction(port, SETDTR);
    (void)EscapeCommFunction(port, SETRTS);
    return true;
  } catch (...) {
    return fail(ERROR_NOT_ENOUGH_MEMORY);
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
  // Keeps `code` as the error, clears the device's error state and fails the write.
  auto fail = [&](DWORD code) {
    NoteError(platform::SystemErrorNumber(code));
    (void)ClearCommError(port, nullptr, nullptr);
    return false;
  };
  std::size_t done = 0;
  while (done < length) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 16));
    OVERLAPPED overlapped{};
    overlapped.hEvent = device_->writeEvent.get();
    (void)ResetEvent(overlapped.hEvent);
    DWORD written = 0;
    if (!WriteFile(port, data + done, chunk, &written, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return fail(GetLastError());
      // The driver's write time-out ends a stalled write; this wait is the guard for a driver
      // that keeps none.
      const DWORD budget = kWriteStallMs + device_->msPerByte * chunk;
      const bool stalled = WaitForSingleObject(overlapped.hEvent, budget) != WAIT_OBJECT_0;
      if (stalled) (void)CancelIoEx(port, &overlapped);
      if (!GetOverlappedResult(port, &overlapped, &written, TRUE)) {
        return fail(stalled ? ERROR_TIMEOUT : GetLastError());
      }
    }
    // A write that ended without taking anything is the driver's time-out: no progress.
    if (written == 0) return fail(ERROR_TIMEOUT);
    done += written;
  }
  return true;
}

void SerialPort::ReadLoop() noexcept {
  const HANDLE port = device_->port.get();
  auto read = [&](char* destination, DWORD size) {
    return ReadOnce(port, device_->readEvent.get(), device_->stop.get(), destination, size);
  };
  // The device is gone: from here on nothing arrives and the owner learns why.
  auto hangUp = [&](DWORD code) {
    NoteError(platform::SystemErrorNumber(code));
    hungUp_.store(true);
    Notify();
  };
  char chunk[kReadChunk];
  while (running_.load()) {
    // A full buffer takes nothing more: the bytes wait in the driver's queue until the sender
    // has taken some, instead of being dropped.
    const int room = kMaxReceived - ReceivedLength();
    if (room <= 0) {
      if (WaitForSingleObject(device_->stop.get(), kFullBufferWaitMs) == WAIT_OBJECT_0) return;
      continue;
    }
    // Waiting for the first byte is the reader's sleep; the rest of what has arrived is then
    // taken without waiting.
    const ReadResult first = read(chunk, 1);
    if (first.stopped) return;
    if (first.count == 0) {
      hangUp(GoneError(port, first));
      return;
    }
    DWORD count = first.count;
    ReadResult rest;
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port, &errors, &status) && status.cbInQue > 0 &&
        static_cast<DWORD>(room) > count) {
      const DWORD wanted = std::min<DWORD>(status.cbInQue, kReadChunk - count);
      rest = read(chunk + count, std::min<DWORD>(wanted, static_cast<DWORD>(room) - count));
      count += rest.count;
    }
    AppendReceived(chunk, static_cast<int>(count));
    if (rest.stopped) return;
    if (rest.error != ERROR_SUCCESS) {
      hangUp(rest.error);
      return;
    }
    Notify();
  }
}

}  // namespace pagorin
