// A file that only grows: records are appended at its end and, when asked, pushed to the disk
// before the caller goes on. Used for the outbox journal and the send history. Errors are the C
// library's message for the failing call's errno, captured where the call failed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace pagorin::platform {

class AppendFile {
 public:
  AppendFile() noexcept = default;
  // Closes the file; what was appended stays, synced or not.
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens `path` for appending, creating it with the usual permissions when it is missing.
  // Closes a file opened before. False with `error` set when it cannot be opened.
  bool Open(const std::string& path, std::string& error) noexcept;
  // Writes every byte of `bytes` at the end of the file. False with `error` set on failure, when
  // part of the bytes may have been written.
  bool Append(std::string_view bytes, std::string& error) noexcept;
  // Returns once everything appended is on the disk. False with `error` set on failure.
  bool Sync(std::string& error) noexcept;
  void Close() noexcept;

  bool IsOpen() const noexcept { return fd_.valid(); }
  // The file's size in bytes as the system sees it; 0 when not open.
  std::uint64_t Size() const noexcept;

 private:
  UniqueFd fd_;
};

// Renames `from` to `to`, replacing `to` when it exists, in one step. False when it failed.
bool RenameFile(const std::string& from, const std::string& to) noexcept;
// Removes the file at `path`; true when it is gone (or was never there).
bool RemoveFile(const std::string& path) noexcept;

}  // namespace pagorin::platform
