#include <windows.h>

#include <string>

#include "paced_clock.h"
#include "sim_os_win32.h"

namespace pagorin::sim {

void PacedClock::Unmap(std::uint64_t* view) noexcept {
  if (view != nullptr) UnmapViewOfFile(view);
}

bool PacedClock::ShareThrough(const std::string& path, std::string& error) {
  // The file is mapped as a whole; a reader on another system that maps the same file (Wine
  // maps it with mmap) sees each store.
  HANDLE file = CreateFileW(os::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot make the clock file " + path + ": " + "error " + std::to_string(GetLastError());
    return false;
  }
  HANDLE mapping =
      CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, sizeof(std::uint64_t), nullptr);
  void* view = mapping != nullptr
                   ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(std::uint64_t))
                   : nullptr;
  if (view == nullptr)
    error = "cannot map the clock file " + path + ": " + "error " + std::to_string(GetLastError());
  // The view keeps the mapping and the file alive.
  if (mapping != nullptr) CloseHandle(mapping);
  CloseHandle(file);
  if (view == nullptr) return false;
  Unmap(shared_);
  shared_ = static_cast<std::uint64_t*>(view);
  Publish();
  return true;
}

}  // namespace pagorin::sim
