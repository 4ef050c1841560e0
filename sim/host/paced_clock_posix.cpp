#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "paced_clock.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace pagorin::sim {

void PacedClock::Unmap(std::uint64_t* view) noexcept {
  if (view != nullptr) munmap(view, sizeof(std::uint64_t));
}

bool PacedClock::ShareThrough(const std::string& path, std::string& error) {
  const platform::UniqueFd file(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file.valid() || ftruncate(file.get(), sizeof(std::uint64_t)) != 0) {
    error = "cannot make the clock file " + path + ": " + platform::ErrorText(errno);
    return false;
  }
  void* map =
      mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, file.get(), 0);
  int mapError = errno;
  if (map == MAP_FAILED) {
    error = "cannot map the clock file " + path + ": " + platform::ErrorText(mapError);
    return false;
  }
  Unmap(shared_);
  shared_ = static_cast<std::uint64_t*>(map);
  Publish();
  return true;
}

}  // namespace pagorin::sim
