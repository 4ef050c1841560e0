// A temporary folder that lives as long as the object and is removed with everything in it.
#pragma once

#include <string>

namespace pagorin::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // `name` joined to the folder with a slash.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Reads a whole file; an empty text when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Writes a whole file, replacing it; aborts the test on failure.
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace pagorin::testing
