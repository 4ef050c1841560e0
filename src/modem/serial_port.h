// One serial device (COMn) with a reader thread that copies every received byte into a bounded
// receive buffer. The owner looks at the buffer without consuming it and empties it itself before
// each command it writes.
//
// Threads: Open, Close, Write, PeekReceived, TakeReceived, TakeNewDataFlag, ClearReceived and
// the accessors run on the owner's thread; the reader thread only appends, and marks a hang-up.
// The receive buffer, its length and the new-data flag are guarded by one mutex per port, the
// only lock; no other lock is ever taken while it is held, and the data listener is called
// without it. Exclusion between processes comes from the device's exclusive open.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace pagorin {

class SerialPort {
 public:
  // The receive buffer keeps one byte free: it holds at most kMaxReceived bytes.
  static constexpr int kBufferSize = 2048;
  static constexpr int kMaxReceived = kBufferSize - 1;
  static constexpr int kMinPortNumber = 0;
  static constexpr int kMaxPortNumber = 64;

  SerialPort() noexcept;
  // Closes the port.
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens COM`portNumber` (0..64) exclusively, sets the line (baud rate in bits per second, 5 to
  // 8 data bits, parity 0..4 = none/odd/even/mark/space, stopBits 0..2 = one/one and a half/two),
  // raises DTR and RTS, purges both directions and starts the reader. Returns 1 when all of that
  // succeeded, else 0 with the port closed. On an open port returns 0 and changes nothing.
  // The receive buffer keeps its contents.
  int Open(int portNumber, int baudRate, int byteSize, int parity, int stopBits) noexcept;

  // Stops the reader, drops DTR, purges and releases the device. Nothing on a closed port.
  // Returns promptly even while the reader is blocked waiting for input.
  void Close() noexcept;

  // Writes `length` bytes; returns 1 once the device has sent them, 0 when the port is closed or
  // the device refused them.
  int Write(const char* data, std::size_t length) noexcept;

  // Clears the new-data flag and copies the first min(received, maxBytes) bytes to
  // `destination`; returns that count. The buffer keeps its contents.
  int PeekReceived(char* destination, int maxBytes) noexcept;

  // Moves the first min(received, maxBytes) bytes to `destination`, removing them from the
  // buffer, and clears the new-data flag; returns that count. Bytes arriving meanwhile stay.
  int TakeReceived(char* destination, int maxBytes) noexcept;

  // Returns the new-data flag (1 when bytes arrived since the last look) and clears it.
  int TakeNewDataFlag() noexcept;

  // Empties the receive buffer; the new-data flag stays as it is.
  void ClearReceived() noexcept;

  // Appends received bytes, dropping what does not fit, and sets the new-data flag when `count`
  // is positive. Called by the reader thread; open to tests that fill the buffer directly.
  void AppendReceived(const char* source, int count) noexcept;

  // Called on the reader thread after bytes were appended and when the device hung up; set only
  // while the port is closed. Must not throw, block, or call back into the port.
  void SetDataListener(std::function<void()> listener) noexcept;

  bool IsOpen() const noexcept { return running_.load(); }
  // True when the device hung up or failed (unplugged) since it was opened; the port stays open
  // until closed, but nothing more arrives and writes fail.
  bool HungUp() const noexcept { return hungUp_.load(); }
  // The system's text for the error at the call that failed last: the open (why the port is
  // not open), a write, or the reader's hang-up. Empty before any failure. Owner's thread.
  std::string LastError() const;
  int portNumber() const noexcept { return portNumber_; }
  // Number of bytes in the receive buffer, 0..kMaxReceived.
  int ReceivedLength() const noexcept;

 private:
  // The platform's device state (descriptor or handle, reader thread, wake-up), defined by the
  // backend file of each platform together with the four operations below.
  struct Device;
  struct DeviceDeleter {
    void operator()(Device* device) const noexcept;
  };

  // Opens and configures the device of `portNumber_` and starts the reader; on failure leaves
  // nothing behind and returns false.
  bool OpenDevice(int baudRate, int byteSize, int parity, int stopBits) noexcept;
  // Stops and joins the reader, drops DTR, purges and releases the device.
  void CloseDevice() noexcept;
  // Sends all bytes and waits until the device has transmitted them.
  bool WriteDevice(const char* data, std::size_t length) noexcept;
  // Body of the reader thread: hands every received chunk to AppendReceived until told to stop.
  void ReadLoop() noexcept;

  // Keeps `errorNumber` as the last error (the caller reads errno right at the failing call).
  void NoteError(int errorNumber) noexcept { lastErrno_.store(errorNumber); }
  // Tells the listener, if any, that something arrived or the device went away.
  void Notify() noexcept;

  int portNumber_ = 1;
  std::atomic<bool> running_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<int> lastErrno_{0};
  std::function<void()> listener_;
  std::unique_ptr<Device, DeviceDeleter> device_;

  mutable std::mutex bufferMutex_;
  char rxBuffer_[kBufferSize] = {};
  int rxLength_ = 0;
  bool rxNewData_ = false;
};

}  // namespace pagorin
