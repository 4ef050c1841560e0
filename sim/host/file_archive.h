// The project archive on disk: an Archive over a file. A storing archive collects the bytes and
// replaces the file in one step when it is committed, so a failed store never leaves half a
// project behind; a loading archive reads the whole file first.
#pragma once

#include <string>

#include "platform/archive.h"

namespace pagorin::sim {

class FileArchive final : public Archive {
 public:
  // Opens `path` for loading. False (with the reason) when the file cannot be read.
  bool OpenForLoading(const std::string& path, std::string& error);
  // Starts an empty storing archive for `path`; nothing is written before Commit.
  void OpenForStoring(const std::string& path);
  // Writes what was stored to the file. False (with the reason) when that failed.
  bool Commit(std::string& error);

  bool IsStoring() const noexcept override { return memory_.IsStoring(); }
  bool Write(const void* data, std::size_t size) noexcept override {
    return memory_.Write(data, size);
  }
  std::size_t Read(void* data, std::size_t size) noexcept override {
    return memory_.Read(data, size);
  }

  const std::string& Bytes() const noexcept { return memory_.Bytes(); }
  // Bytes of a loading archive that nobody read.
  std::size_t Unread() const noexcept { return memory_.Unread(); }

 private:
  std::string path_;
  // The bytes in memory; the file is only read whole or written whole.
  MemoryArchive memory_{std::string()};
};

}  // namespace pagorin::sim
