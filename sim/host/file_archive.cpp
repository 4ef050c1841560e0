#include "file_archive.h"

#include <algorithm>

#include "platform/file_io.h"

namespace pagorin::sim {

bool FileArchive::OpenForLoading(const std::string& path, std::string& error) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, bytes, error)) return false;
  path_ = path;
  bytes_.swap(bytes);
  readPos_ = 0;
  storing_ = false;
  return true;
}

void FileArchive::OpenForStoring(const std::string& path) {
  path_ = path;
  bytes_.clear();
  readPos_ = 0;
  storing_ = true;
}

bool FileArchive::Commit(std::string& error) {
  if (!storing_) {
    error = "the archive is not storing";
    return false;
  }
  return platform::ReplaceFile(path_, bytes_, error);
}

bool FileArchive::Write(const void* data, std::size_t size) noexcept {
  if (!storing_) return false;
  try {
    bytes_.append(static_cast<const char*>(data), size);
  } catch (...) {
    return false;
  }
  return true;
}

std::size_t FileArchive::Read(void* data, std::size_t size) noexcept {
  if (storing_) return 0;
  std::size_t count = std::min(size, bytes_.size() - readPos_);
  std::copy_n(bytes_.data() + readPos_, count, static_cast<char*>(data));
  readPos_ += count;
  return count;
}

}  // namespace pagorin::sim
