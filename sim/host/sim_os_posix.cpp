#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "platform/syscall.h"
#include "platform/unique_fd.h"
#include "sim_os.h"

namespace pagorin::sim::os {

long long ReadFrom(const std::string& path, std::uint64_t offset, std::string& bytes) {
  const platform::UniqueFd file(platform::sys::Open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const int fd = file.get();
  if (fd < 0) return -1;
  long long read = 0;
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0) {
    char buffer[8192];
    for (;;) {
      const ssize_t n = platform::sys::Read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
      read += n;
    }
  }
  return read;
}

std::string MakeTempFolder(const std::string& prefix) {
  std::error_code noTemp;
  std::string templ = (std::filesystem::temp_directory_path(noTemp) / (prefix + "XXXXXX")).string();
  if (noTemp || ::mkdtemp(templ.data()) == nullptr) return {};
  return templ;
}

std::string ExecutableDir() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

const char* ModuleFileName() noexcept {
  return "libpagorin.so";
}

bool StdinIsTerminal() noexcept {
  return ::isatty(STDIN_FILENO) != 0;
}

}  // namespace pagorin::sim::os
