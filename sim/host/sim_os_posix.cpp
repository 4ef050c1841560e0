#include <dirent.h>
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

namespace {

// The scheduler state of thread `tid` of this process ('R', 'S', 'D', ...), from the field after
// the parenthesised name in /proc/self/task/<tid>/stat; 0 when it cannot be read.
char ThreadState(const char* tid) {
  std::string stat;
  if (ReadFrom(std::string("/proc/self/task/") + tid + "/stat", 0, stat) <= 0) return 0;
  // The name may hold spaces and parentheses; the state follows the last ')'.
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 1] == ' '
             ? stat[close + 2]
             : 0;
}

}  // namespace

bool OtherThreadsAtWork() {
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return false;
  const std::string self = std::to_string(::gettid());
  bool atWork = false;
  while (const dirent* entry = ::readdir(tasks)) {
    if (entry->d_name[0] == '.' || entry->d_name == self) continue;
    const char state = ThreadState(entry->d_name);
    if (state == 'R' || state == 'D') {
      atWork = true;
      break;
    }
  }
  ::closedir(tasks);
  return atWork;
}

}  // namespace pagorin::sim::os
