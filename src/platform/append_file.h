// A file that only grows: records are appended at its end and, when asked, pushed to the disk
// before the caller goes on. Used for the outbox journal and the send history. Errors are the
// system's message for the failing call's error, captured where the call failed.
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
  // Opens `path` like Open and holds it until Close: while held, OpenExclusive of the same file
  // fails for every other AppendFile, in this process or another. False with `error` set when it
  // cannot be opened or held; `heldByOther` is then true exactly when another holder has it. The
  // hold stays with the file, not the name: a file renamed over `path` is not held. A plain Open
  // is turned away only on Windows, where others may still read the held file but not write,
  // rename or remove it.
  bool OpenExclusive(const std::string& path, std::string& error, bool& heldByOther) noexcept;
  // Writes every byte of `bytes` at the end of the file. False with `error` set on failure, when
  // part of the bytes may have been written.
  bool Append(std::string_view bytes, std::string& error) noexcept;
  // Returns once everything appended is on the disk. False with `error` set on failure.
  bool Sync(std::string& error) noexcept;
  void Close() noexcept;

  bool IsOpen() const noexcept { return fd_.valid(); }
  // The file's size in bytes as the system sees it; 0 when not open.
  std::uint64_t Size() const noexcept;
  // False when the file is not open or `path` names no file or another one than the open file
  // (it was removed or replaced). True when `path` names the open file, and when the path cannot
  // be examined for another cause than its absence.
  bool IsAt(const std::string& path) const noexcept;

 private:
  UniqueFd fd_;
};

// Renames `from` to `to`, replacing `to` when it exists, in one step. False when it failed,
// with the system's words for the cause in `error` for the second form.
bool RenameFile(const std::string& from, const std::string& to) noexcept;
bool RenameFile(const std::string& from, const std::string& to, std::string& error) noexcept;
// Removes the file at `path`; true when it is gone (or was never there). On failure the second
// form puts the cause into `error`.
bool RemoveFile(const std::string& path) noexcept;
bool RemoveFile(const std::string& path, std::string& error) noexcept;
// False when nothing is at `path`; true when something is, and when that cannot be told.
bool PathExists(const std::string& path) noexcept;

}  // namespace pagorin::platform
