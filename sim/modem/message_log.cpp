#include "message_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/syscall.h"
#include "platform/system_error.h"

namespace pagorin::sim {

using pagorin::platform::ErrorText;
using pagorin::platform::RetryOnEintr;

bool MessageLog::Open(const std::string& path) {
  if (path.empty()) return true;
  fd_.Reset(RetryOnEintr(
      [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644); }));
  if (fd_.get() < 0) {
    std::fprintf(stderr, "gsm-modem-sim: cannot open the log %s: %s\n", path.c_str(),
                 ErrorText(errno).c_str());
    return false;
  }
  return true;
}

void MessageLog::Append(const std::string& line) {
  if (fd_.get() < 0) return;
  std::string record = line + "\n";
  ssize_t n = RetryOnEintr([&] { return ::write(fd_.get(), record.data(), record.size()); });
  if (n != static_cast<ssize_t>(record.size())) {
    std::fprintf(stderr, "gsm-modem-sim: log write failed: %s\n", ErrorText(errno).c_str());
  }
}

}  // namespace pagorin::sim
