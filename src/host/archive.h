// The host's project archive as host and plug-in share it: a byte stream that either stores or
// loads. The forms of the values in it are in platform/archive.h.
#pragma once

#include <cstddef>

namespace pagorin {

// A byte stream in one direction. Implementations never throw.
class Archive {
 public:
  virtual ~Archive() = default;
  // True when the archive is being written, false when it is being read.
  virtual bool IsStoring() const noexcept = 0;
  // Appends `size` bytes; false when the medium did not take all of them.
  virtual bool Write(const void* data, std::size_t size) noexcept = 0;
  // Reads up to `size` bytes into `data`; returns how many were read (fewer at the end).
  virtual std::size_t Read(void* data, std::size_t size) noexcept = 0;
};

}  // namespace pagorin
