#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/syscall.h"
#include "platform/system_error.h"
#include "support/held_file.h"

namespace pagorin::testing {

// A program holding the file would make the rename fail on Windows; EBUSY says the same here.
struct HeldFiles::State : platform::SystemCalls {
  std::mutex mutex;
  std::vector<std::string> held;
  platform::ScopedSystemCalls installed{*this};

  bool Held(const char* path) {
    const std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& one : held) {
      if (one == path) return true;
    }
    return false;
  }
  int Rename(const char* from, const char* to) noexcept override {
    if (Held(from) || Held(to)) {
      errno = EBUSY;
      return -1;
    }
    return SystemCalls::Rename(from, to);
  }
  int Unlink(const char* path) noexcept override {
    if (Held(path)) {
      errno = EBUSY;
      return -1;
    }
    return SystemCalls::Unlink(path);
  }
};

HeldFiles::HeldFiles() : state_(std::make_unique<State>()) {}
HeldFiles::~HeldFiles() = default;

void HeldFiles::Hold(const std::string& path) {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  state_->held.push_back(path);
}

void HeldFiles::ReleaseAll() {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  state_->held.clear();
}

std::string HeldFiles::FailureText() {
  return platform::ErrorText(EBUSY);
}

}  // namespace pagorin::testing
