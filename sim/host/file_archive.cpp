#include "file_archive.h"

#include "platform/file_io.h"

namespace pagorin::sim {

bool FileArchive::OpenForLoading(const std::string& path, std::string& error) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, bytes, error)) return false;
  path_ = path;
  memory_ = MemoryArchive(std::move(bytes));
  return true;
}

void FileArchive::OpenForStoring(const std::string& path) {
  path_ = path;
  memory_ = MemoryArchive();
}

bool FileArchive::Commit(std::string& error) {
  if (!memory_.IsStoring()) {
    error = "the archive is not storing";
    return false;
  }
  return platform::ReplaceFile(path_, memory_.Bytes(), error);
}

}  // namespace pagorin::sim
