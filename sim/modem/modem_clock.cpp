#include "modem_clock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/syscall.h"
#include "platform/system_error.h"
#include "platform/unique_fd.h"

namespace pagorin::sim {

using pagorin::platform::ErrorText;
using pagorin::platform::RetryOnEintr;
using pagorin::platform::UniqueFd;

ModemClock::ModemClock() : start_(std::chrono::steady_clock::now()) {}

ModemClock::~ModemClock() {
  if (shared_ != nullptr) ::munmap(shared_, sizeof(std::uint64_t));
}

bool ModemClock::Share(const std::string& path) {
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 ||
      info.st_size < static_cast<off_t>(sizeof(std::uint64_t))) {
    std::fprintf(stderr, "gsm-modem-sim: cannot use the clock file %s: %s\n", path.c_str(),
                 fd.get() < 0 ? ErrorText(errno).c_str() : "shorter than 8 bytes");
    return false;
  }
  void* map = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ, MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) {
    std::fprintf(stderr, "gsm-modem-sim: cannot map the clock file %s: %s\n", path.c_str(),
                 ErrorText(errno).c_str());
    return false;
  }
  shared_ = static_cast<std::uint64_t*>(map);
  return true;
}

std::int64_t ModemClock::NowMs() const {
  if (shared_ != nullptr) {
    // Only read; the mapping is read-only and the host writes the value with one atomic store.
    std::uint64_t ms = std::atomic_ref<std::uint64_t>(*shared_).load(std::memory_order_acquire);
    return static_cast<std::int64_t>(std::min<std::uint64_t>(ms, INT64_MAX));
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start_)
      .count();
}

}  // namespace pagorin::sim
