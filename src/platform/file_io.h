// Whole-file reads and safe whole-file replacement. Errors are reported as the C library's
// message for the failing call's errno, captured where the call failed.
#pragma once

#include <string>
#include <string_view>

#include "platform/system_error.h"

namespace pagorin::platform {

// Reads every byte of the file at `path` into `contents`. On failure returns false, leaves
// `contents` unchanged and puts the cause into `error`. Never throws.
bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) noexcept;

// Replaces the file at `path` with `contents` so that the file is never seen half written: the
// bytes go to a temporary file in the same folder, which is flushed to the disk and then renamed
// over the target. On failure the old file is untouched, the temporary file is removed, the
// result is false and `error` holds the cause. A new file gets the usual permissions; a
// replaced one keeps its own. Never throws.
bool ReplaceFile(const std::string& path, std::string_view contents, std::string& error) noexcept;

}  // namespace pagorin::platform
